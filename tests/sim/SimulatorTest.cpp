#include <gtest/gtest.h>

#include <cmath>

#include "dsp/FilterIIR.h"
#include "dsp/HilbertFIR_Detector.h"
#include "dsp/RectLP_IIR_Detector.h"
#include "sim/Analyzer.h"
#include "sim/Simulator.h"
#include "sim/TestSupport.h"

namespace {

// The analysis steps written out one by one: each band's envelope from a detector built
// here, smoothed at rate / 2.4, N-of-M on a second analyzer, smoothed again, mixed.
SignalVector* StepByStep(Parameters* p, const Analyzer& bands, Signal* input) {
    const unsigned n = p->n_inserted_ch->GetValue();
    LP_FilterIIR smoothing(2, static_cast<double>(kRate), p->rate->GetValue() / 2.4);
    SignalVector* v = new SignalVector(n);
    for (unsigned i = 0; i < n; i++) {
        std::unique_ptr<EnvelopeDetector> d;
        if (p->envelope_detection->GetValue() == 0) {
            d.reset(
                new HilbertFIR_Detector(bands.GetBandwidth()[i], bands.GetCenterFreq()[i], kRate));
        } else {
            d.reset(new RectLP_IIR_Detector(bands.GetLowFreq()[i], bands.GetHighFreq()[i], kRate));
        }
        std::unique_ptr<Signal> raw(d->Run(input));
        v->SetSignal(i, smoothing.Run(raw.get()));
    }
    Analyzer selector(p, kRate);
    selector.SetEnvelopes(v);
    selector.N_of_M();
    for (unsigned i = 0; i < n; i++) {
        Signal* held = selector.GetEnvelopes()->GetSignal(i);
        selector.GetEnvelopes()->SetSignal(i, smoothing.Run(held));
        delete held;
    }
    selector.InteractionChannels();
    SignalVector* result = new SignalVector(n);
    for (unsigned i = 0; i < n; i++) {
        result->SetSignal(i, new Signal(*selector.GetEnvelopes()->GetSignal(i)));
    }
    return result;
}

TEST(Analyzer, RunChainsDetectionSmoothingSelectionAndInteraction) {
    std::unique_ptr<Signal> input(MakeSignal(SpeechLike(4000)));
    for (unsigned method : {0u, 1u}) {
        std::unique_ptr<Parameters> p = ChannelParams(4, 2);
        p->envelope_detection->SetValue(method);
        p->rate->SetValue(900.0);
        Analyzer a(p.get(), kRate);
        std::unique_ptr<SignalVector> got(a.Run(input.get()));
        EXPECT_EQ(a.GetEnvelopes(), nullptr);  // handed over
        std::unique_ptr<SignalVector> expected(StepByStep(p.get(), a, input.get()));
        ASSERT_EQ(got->GetLength(), 4u);
        for (unsigned i = 0; i < 4; i++) {
            EXPECT_TRUE(SameSamples(Samples(*got->GetSignal(i)), Samples(*expected->GetSignal(i))))
                << "method " << method << " channel " << i;
        }
    }
}

TEST(Analyzer, EnvelopesHaveTheInputLengthAndTheAnalyzerRate) {
    std::unique_ptr<Parameters> p = ChannelParams(8, 8);
    Analyzer a(p.get(), kRate);
    for (uint32_t length : {0u, 5u, 2345u}) {
        std::unique_ptr<Signal> input(MakeSignal(SpeechLike(length), 19998));
        std::unique_ptr<SignalVector> env(a.Run(input.get()));  // runs again: a fresh vector
        ASSERT_EQ(env->GetLength(), 8u);
        for (uint32_t i = 0; i < 8; i++) {
            EXPECT_EQ(env->GetSignal(i)->GetLength(), length);
            EXPECT_EQ(env->GetSignal(i)->GetSampleRate(), kRate);
        }
    }
}

std::vector<double> Simulate(Parameters* p, const std::vector<double>& in) {
    Simulator* sim = new Simulator(p, kRate);
    Signal* input = MakeSignal(in);
    std::unique_ptr<Signal> out(sim->Run(input));
    // The output stands on its own once the simulator and the input are gone.
    delete sim;
    delete input;
    return Samples(*out);
}

TEST(Simulator, SameInputGivesTheSameOutput) {
    Parameters p;
    p.synchronization->SetValue(0.5);  // both carriers in play
    const std::vector<double> in = SpeechLike(20000);
    // Each simulator draws from a fresh state of its own: nothing carries over between them.
    const std::vector<double> first = Simulate(&p, in);
    const std::vector<double> second = Simulate(&p, in);
    ASSERT_EQ(first.size(), in.size());
    EXPECT_TRUE(SameSamples(first, second));
    double peak = 0.0;
    for (double v : first) {
        peak = std::max(peak, std::fabs(v));
    }
    EXPECT_NEAR(peak, 0.9999, 1e-12);
}

TEST(Simulator, SilenceAndEmptyInput) {
    for (double sync : {1.0, 0.0}) {
        for (bool eas : {false, true}) {
            Parameters p;
            p.synchronization->SetValue(sync);
            p.eas->SetValue(eas);
            SCOPED_TRACE(testing::Message() << "sync " << sync << ", eas " << eas);
            EXPECT_EQ(Simulate(&p, std::vector<double>(20000, 0.0)),
                      std::vector<double>(20000, 0.0));
            EXPECT_EQ(Simulate(&p, {}).size(), 0u);
            // Shorter than the band filters' start-up and the pulse train's margins.
            EXPECT_EQ(Simulate(&p, SpeechLike(60)).size(), 60u);
        }
    }
}

}  // namespace
