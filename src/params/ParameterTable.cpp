// The one description of the thirteen simulation parameters: the command line's options, the
// parameter set's defaults and bounds, the strict validation and every front end's keywords and
// documentation are derived from this table.
#include <cihear/cihear.h>

#include <cstring>

namespace cihear {

namespace {

const ValueKind kReal = ValueKind::kReal;
const ValueKind kCount = ValueKind::kCount;
const ValueKind kSwitch = ValueKind::kSwitch;

}  // namespace

const std::vector<ParameterInfo>& ParameterTable() {
    static const std::vector<ParameterInfo> table = {
        {"rate", 'r', kReal, "pulses/s", 1800, 10, 10000, "", "stimulation rate of each electrode",
         "Stimulation rate (in pulses per second) for each electrode."},
        {"f_min", 0, kReal, "Hz", 300, 20, 5000, "", "lower edge of the implant's frequency range",
         "Lower limit of the spectral range processed by the cochlear implant system, expressed "
         "in Hz."},
        {"f_max", 0, kReal, "Hz", 8500, 500, 10000, "at least f_min",
         "upper edge of the implant's frequency range; cutoff_freq (default 2000 Hz) raises it "
         "when above it, whether eas is on or off",
         "Upper limit of the spectral range processed by the cochlear implant, expressed in "
         "Hz."},
        {"length_ci", 'l', kReal, "mm", 30, 1, 30, "", "length of the electrode array",
         "Length of the electrode array of the cochlear implant, in mm."},
        {"n_chan_ci", 0, kCount, "channels", 12, 1, 50, "",
         "electrodes of the implant; only the inserted ones are simulated, so more electrodes "
         "need a higher n_inserted_ch",
         "Number of channels in the cochlear implant."},
        {"n_inserted_ch", 0, kCount, "channels", 12, 1, 50, "at most n_chan_ci",
         "electrodes inserted in the cochlea, the channels simulated (capped at n_chan_ci)",
         "Number of channels inserted in the cochlea during the surgery."},
        {"n_on", 0, kCount, "channels", 12, 1, 50, "at most n_inserted_ch",
         "channels stimulated per cycle, the N of N-of-M (capped at the inserted channels)",
         "Number of electrodes which are activated in each stimulation cycle of the m electrodes "
         "switched on."},
        {"interact_decay", 'd', kReal, "mm", 2, 0.0001, 100, "",
         "length constant of the current spread between electrodes",
         "Interaction coefficient (in mm) to model interaction among channels."},
        {"envelope_detection", 'e', kCount, "", 0, 0, 1, "",
         "envelope detection: 0 Hilbert transform of FIR bands, 1 rectified IIR bands low-passed "
         "at 350 Hz",
         "Procedure used for the envelope detection in the coding strategy. Two options can be "
         "selected: Hilbert+FIR (0) (filter bank with finite impulsive response filters and "
         "envelope detection based on the Hilbert transform) or Rect-LP+IIR (1) (filter bank "
         "with infinite impulsive response filters and envelope detection based on "
         "rectification and low-pass filtering."},
        {"synchronization", 0, kReal, "", 1, 0, 1, "",
         "share of the pulse-train carrier in the noise/pulse blend (0 noise, 1 pulses)",
         "The synchronization capability of the neural activity with the stimulation is modeled "
         "with this parameter."},
        {"eas", 0, kSwitch, "", 0, 0, 1, "",
         "electro-acoustic stimulation: the input below cutoff_freq is added acoustically",
         "Electro-Acoustic Stimulation: This parameter allows to simulate the audition of a "
         "patient for whom the electrical stimulation through the cochlear implant is combined "
         "with the acoustic stimulation through a hearing aid."},
        {"cutoff_freq", 'c', kReal, "Hz", 2000, 20, 5000, "",
         "crossover between hearing aid (below) and implant (above) under eas; raises f_max "
         "when above it, whether eas is on or off",
         "For the case of Electro-Acoustic Stimulation (EAS), this is the cutoff-frequency which "
         "determines the frequency range processed by the hearing aid and by the cochlear "
         "implant."},
        {"freq_shift", 0, kSwitch, "", 0, 0, 1, "",
         "synthesise at the electrodes' place frequencies instead of the analysis bands",
         "By switching this option on, the synthesis is performed taking into account the "
         "frequency corresponding to the position of each electrode of the implant according to "
         "the place theory."},
    };
    return table;
}

const ParameterInfo* FindParameter(const std::string& name) {
    for (const ParameterInfo& info : ParameterTable()) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

}  // namespace cihear
