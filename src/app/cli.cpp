#include "app/cli.h"

#include <boost/program_options.hpp>
#include <iostream>
#include <memory>
#include <new>

#include "app/Global.h"
#include "params/Parameters.h"
#include "signal/Signal.h"
#include "sim/Simulator.h"

namespace po = boost::program_options;

namespace {

// The options in the order of the help listing, each bound to its field of `options`; the
// fields' initial values are the defaults shown.
void DescribeOptions(po::options_description& description, CliOptions& o) {
    description.add_options()               //
        ("help,h", "produce help message")  //
        ("input,i", po::value<std::string>(&o.input)->required(),
         "wav input file. E.g: -i input.wav")  //
        ("output,o", po::value<std::string>(&o.output)->default_value(o.output),
         "wav output file. E.g: -o output.wav")  //
        ("rate,r", po::value<double>(&o.rate)->default_value(o.rate),
         "Stimulation rate (in pulses per second) for each electrode.")  //
        ("f_min", po::value<double>(&o.f_min)->default_value(o.f_min),
         "Lower limit of the spectral range processed by the cochlear implant system, expressed "
         "in Hz.")  //
        ("f_max", po::value<double>(&o.f_max)->default_value(o.f_max),
         "Upper limit of the spectral range processed by the cochlear implant, expressed in "
         "Hz.")  //
        ("length_ci,l", po::value<double>(&o.length_ci)->default_value(o.length_ci),
         "Length of the electrode array of the cochlear implant, in mm.")  //
        ("n_chan_ci", po::value<unsigned int>(&o.n_chan_ci)->default_value(o.n_chan_ci),
         "Number of channels in the cochlear implant.")  //
        ("n_inserted_ch", po::value<unsigned int>(&o.n_inserted_ch)->default_value(o.n_inserted_ch),
         "Number of channels inserted in the cochlea during the surgery.")  //
        ("n_on", po::value<unsigned int>(&o.n_on)->default_value(o.n_on),
         "Number of electrodes which are activated in each stimulation cycle of the m electrodes "
         "switched on.")  //
        ("interact_decay,d", po::value<double>(&o.interact_decay)->default_value(o.interact_decay),
         "Interaction coefficient (in mm) to model interaction among channels.")  //
        ("envelope_detection,e",
         po::value<unsigned int>(&o.envelope_detection)->default_value(o.envelope_detection),
         "Procedure used for the envelope detection in the coding strategy. Two options can be "
         "selected: Hilbert+FIR (0) (filter bank with finite impulsive response filters and "
         "envelope detection based on the Hilbert transform) or Rect-LP+IIR (1) (filter bank "
         "with infinite impulsive response filters and envelope detection based on "
         "rectification and low-pass filtering.")  //
        ("synchronization", po::value<double>(&o.synchronization)->default_value(o.synchronization),
         "The synchronization capability of the neural activity with the stimulation is modeled "
         "with this parameter.")  //
        ("eas", po::value<bool>(&o.eas)->default_value(o.eas),
         "Electro-Acoustic Stimulation: This parameter allows to simulate the audition of a "
         "patient for whom the electrical stimulation through the cochlear implant is combined "
         "with the acoustic stimulation through a hearing aid.")  //
        ("cutoff_freq,c", po::value<double>(&o.cutoff_freq)->default_value(o.cutoff_freq),
         "For the case of Electro-Acoustic Stimulation (EAS), this is the cutoff-frequency which "
         "determines the frequency range processed by the hearing aid and by the cochlear "
         "implant.")  //
        ("freq_shift", po::value<bool>(&o.freq_shift)->default_value(o.freq_shift),
         "By switching this option on, the synthesis is performed taking into account the "
         "frequency corresponding to the position of each electrode of the implant according to "
         "the place theory.");
}

// Parses the command line into `options`. Returns 0 when the run should go on, otherwise the
// exit status: 1 after printing the help, -1 after printing a command-line error.
int ParseCommandLine(int argc, char* argv[], CliOptions& options) {
    po::options_description description("Allowed options");
    DescribeOptions(description, options);
    try {
        po::variables_map vm;
        po::store(po::parse_command_line(argc, argv, description), vm);
        if (vm.count("help")) {
            // Before notify: help needs no input file and leaves the options untouched.
            std::cout << description << "\n";
            return 1;
        }
        po::notify(vm);
    } catch (const po::error& e) {
        std::cerr << e.what();
        return -1;
    }
    return 0;
}

// More inserted channels, or more channels on per cycle, than the implant has make no sense:
// both are capped at the implant's channel count. n_on is compared with n_chan_ci alone; the
// parameter set deals with n_on against n_inserted_ch.
void CapChannelCounts(CliOptions& o) {
    if (o.n_inserted_ch > o.n_chan_ci) {
        o.n_inserted_ch = o.n_chan_ci;
        std::cerr << "WARNING: n_inserted_ch changed to n_chan_ci = " << o.n_chan_ci << std::endl;
    }
    if (o.n_on > o.n_chan_ci) {
        o.n_on = o.n_chan_ci;
        std::cerr << "WARNING: n_on changed to n_chan_ci = " << o.n_chan_ci << std::endl;
    }
}

// Load, simulate, save, with one progress line per phase on standard output. Returns the exit
// status.
int RunSimulation(const CliOptions& o) {
    // Flushed, so that whoever watches a long run sees which phase it is in.
    std::cout << "Starting... "
              << "Loading input signal... " << std::flush;
    std::unique_ptr<Signal> input(read(o.input.c_str()));
    if (!input) {
        return -1;
    }
    std::cout << "Done" << std::endl << "Starting simulation... " << std::flush;
    std::unique_ptr<Parameters> parameters(SetupParameters(o));
    auto simulator = std::make_unique<Simulator>(parameters.get(), gInternalSampleRate);
    std::unique_ptr<Signal> output(simulator->Run(input.get()));
    simulator.reset();
    input.reset();
    std::cout << "Done" << std::endl << "Writing to file... " << std::flush;
    if (!save(output.get(), o.output.c_str())) {
        return -1;
    }
    std::cout << "Done" << std::endl;
    parameters.reset();
    output.reset();
    return 0;
}

}  // namespace

Parameters* SetupParameters(const CliOptions& o) {
    // Member order matters: f_max is set while eas is still off, and each channel count before
    // the one it caps. Refusals are silent; the member keeps its value.
    auto p = std::make_unique<Parameters>();
    p->rate->SetValue(o.rate);
    p->f_min->SetValue(o.f_min);
    p->f_max->SetValue(o.f_max);
    p->length_ci->SetValue(o.length_ci);
    p->n_chan_ci->SetValue(o.n_chan_ci);
    p->n_inserted_ch->SetValue(o.n_inserted_ch);
    p->n_on->SetValue(o.n_on);
    p->interact_decay->SetValue(o.interact_decay);
    p->envelope_detection->SetValue(o.envelope_detection);
    p->synchronization->SetValue(o.synchronization);
    p->eas->SetValue(o.eas);
    p->cutoff_freq->SetValue(o.cutoff_freq);
    p->freq_shift->SetValue(o.freq_shift);
    return p.release();
}

int cliMain(int argc, char* argv[]) {
    CliOptions options;
    const int status = ParseCommandLine(argc, argv, options);
    if (status != 0) {
        return status;
    }
    CapChannelCounts(options);
    try {
        return RunSimulation(options);
    } catch (const std::bad_alloc&) {
        // A very long input, or a very low sample rate raised to 20000 Hz, can need more memory
        // than there is. Whatever was made so far is freed on the way here, a temporary output
        // file included, and an existing output file is left as it was.
        std::cerr << "error: not enough memory" << std::endl;
        return -1;
    }
}
