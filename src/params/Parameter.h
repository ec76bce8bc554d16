#pragma once

#include <cstdint>

class Parameters;

// One simulation value with its bounds. Each parameter belongs to a `Parameters` object and
// keeps a (non-owning) pointer back to it, through which the constrained parameters reach their
// siblings. Copies are memberwise, back-pointer included: the owner re-points them.
class Parameter {
public:
    explicit Parameter(Parameters* parameters) : parameters(parameters) {}

    void SetParameters(Parameters* parameters) { this->parameters = parameters; }
    Parameters* GetParameters() const { return parameters; }

protected:
    Parameters* parameters;
};

// A bounded double. SetValue stores v only when GetMin() <= v <= GetMax(); a NaN is refused.
class ParameterDouble : public Parameter {
public:
    ParameterDouble(Parameters* parameters, double value, double min, double max)
        : Parameter(parameters), value(value), min(min), max(max) {}
    ParameterDouble(const ParameterDouble&) = default;
    ParameterDouble& operator=(const ParameterDouble&) = default;
    // Virtual only so that deleting a member through this class is well-formed for the compiler;
    // the subclasses add no fields.
    virtual ~ParameterDouble() = default;

    double GetValue() const { return value; }
    virtual double GetMin() const { return min; }
    virtual double GetMax() const { return max; }
    virtual bool SetValue(double v);

protected:
    double value;
    double min;
    double max;
};

// A bounded unsigned integer. SetValue checks the stored bounds, never the virtual GetMin/GetMax:
// the dependent upper bounds reported by subclasses do not restrict what is admitted.
class ParameterUnsigned : public Parameter {
public:
    ParameterUnsigned(Parameters* parameters, unsigned value, unsigned min, unsigned max)
        : Parameter(parameters), value(value), min(min), max(max) {}
    ParameterUnsigned(const ParameterUnsigned&) = default;
    ParameterUnsigned& operator=(const ParameterUnsigned&) = default;
    virtual ~ParameterUnsigned() = default;  // see ~ParameterDouble

    uint32_t GetValue() const { return value; }
    virtual uint32_t GetMin() const { return min; }
    virtual uint32_t GetMax() const { return max; }
    virtual bool SetValue(unsigned v);

protected:
    uint32_t value;
    uint32_t min;
    uint32_t max;
};

class ParameterBool final : public Parameter {
public:
    ParameterBool(Parameters* parameters, bool value) : Parameter(parameters), value(value) {}

    bool GetValue() const { return value; }
    virtual bool SetValue(bool b);

private:
    bool value;
};

// Lower edge of the spectral range; raising it above f_max pushes f_max up with it.
class ParameterFmin final : public ParameterDouble {
public:
    using ParameterDouble::ParameterDouble;
    bool SetValue(double v) override;
};

// Upper edge of the spectral range; it may not fall below f_min, or below cutoff_freq while
// electro-acoustic stimulation is on.
class ParameterFmax final : public ParameterDouble {
public:
    using ParameterDouble::ParameterDouble;
    double GetMin() const override;
};

// Boundary between the hearing aid's range and the implant's; raising it above f_max pushes
// f_max up with it, whether or not electro-acoustic stimulation is on.
class ParameterCutoffFreq final : public ParameterDouble {
public:
    using ParameterDouble::ParameterDouble;
    bool SetValue(double v) override;
};

// Channels of the implant; lowering it below n_inserted_ch pulls n_inserted_ch down.
class ParameterNChanCi final : public ParameterUnsigned {
public:
    using ParameterUnsigned::ParameterUnsigned;
    bool SetValue(unsigned v) override;
};

// Channels inserted in the cochlea; lowering it below n_on pulls n_on down. GetMax reports
// n_chan_ci.
class ParameterNInsertedCh final : public ParameterUnsigned {
public:
    using ParameterUnsigned::ParameterUnsigned;
    uint32_t GetMax() const override;
    bool SetValue(unsigned v) override;
};

// Electrodes on per stimulation cycle. GetMax reports n_inserted_ch.
class ParameterNon final : public ParameterUnsigned {
public:
    using ParameterUnsigned::ParameterUnsigned;
    uint32_t GetMax() const override;
};
