%CIHEAR_SIMULATE  What a cochlear-implant user would roughly hear of a sound.
%   Y = CIHEAR_SIMULATE(X, FS) simulates the sound X, sampled at FS Hz, with the cihear
%   program's default settings and returns the result at 20000 Hz as a double column vector,
%   as long as X (after conversion to 20000 Hz) and normalised to a peak of 0.9999, as the
%   program makes it of a file holding X. CIHEAR_TO_PCM16(Y) gives the 16-bit samples the
%   program writes to its output file.
%
%   X is one of:
%     - a real double or single vector (mono), every sample finite, full scale 1;
%     - a real double or single N-by-2 matrix (stereo): the mean of the two columns;
%     - an int16 vector or N-by-2 matrix, taken exactly as the program takes a 16-bit file
%       (a stereo pair summed, halved and truncated toward zero, then divided by 32768).
%   A 1-by-2 row is two mono samples. FS is a whole number of Hz, 1 to 4294967295.
%
%   Y = CIHEAR_SIMULATE(X, FS, NAME, VALUE, ...) sets parameters by name; those not named keep
%   their defaults. A value outside its range, a count that is not a whole number, a switch
%   other than 0, 1, false or true, a logical value for a parameter that is not a switch, or
%   an unknown name is an error. When a value changes another parameter (cutoff_freq above f_max
%   raises f_max, whether eas is on or off; fewer channels cap n_inserted_ch and n_on), and
%   when more electrodes than inserted ones are set (only the inserted ones are simulated), a
%   warning with the identifier cihear:cascade says so.
%
%   A choice takes a character vector naming one of its values ('map', 'nucleus22'); a list
%   takes a real double vector ('off', [3 7]; 'band_edges', [188 313 438 ...]), or [] for
%   none. The implant models' values are always checked together: band edges that do not
%   increase, a map together with other band edges, an electrode that is not inserted or every
%   electrode switched off is an error.
%
%   The parameters, named as the command line's long options:
%     rate (pulses/s): stimulation rate of each electrode. Default 1800; accepted: 10 to 10000.
%     f_min (Hz): lower edge of the implant's frequency range. Default 300; accepted: 20 to
%         5000.
%     f_max (Hz): upper edge of the implant's frequency range; cutoff_freq (default 2000 Hz)
%         raises it when above it, whether eas is on or off. Default 8500; accepted: 500 to
%         10000, at least f_min.
%     length_ci (mm): length of the electrode array. Default 30; accepted: 1 to 30.
%     n_chan_ci (channels): electrodes of the implant; only the inserted ones are simulated, so
%         more electrodes need a higher n_inserted_ch. Default 12; accepted: whole numbers from
%         1 to 50.
%     n_inserted_ch (channels): electrodes inserted in the cochlea, the channels simulated
%         (capped at n_chan_ci). Default 12; accepted: whole numbers from 1 to 50, at most
%         n_chan_ci.
%     n_on (channels): channels stimulated per cycle, the N of N-of-M (capped at the inserted
%         channels). Default 12; accepted: whole numbers from 1 to 50, at most n_inserted_ch.
%     interact_decay (mm): length constant of the current spread between electrodes. Default 2;
%         accepted: 0.0001 to 100.
%     envelope_detection: envelope detection: 0 Hilbert transform of FIR bands, 1 rectified IIR
%         bands low-passed at 350 Hz. Default 0; accepted: 0 or 1.
%     synchronization: share of the pulse-train carrier in the noise/pulse blend (0 noise, 1
%         pulses). Default 1; accepted: 0 to 1.
%     eas: electro-acoustic stimulation: the input below cutoff_freq is added acoustically.
%         Default 0; accepted: 0 or 1 (or false or true).
%     cutoff_freq (Hz): crossover between hearing aid (below) and implant (above) under eas;
%         raises f_max when above it, whether eas is on or off. Default 2000; accepted: 20 to
%         5000.
%     freq_shift: synthesise at the electrodes' place frequencies instead of the analysis bands.
%         Default 0; accepted: 0 or 1 (or false or true).
%   The implant models (channel 1 is the lowest band, on electrode 1, the most apical):
%     bands: how the analysis bands divide the range: equal steps of log frequency, of cochlear
%         place (Greenwood's map), of Hz, or of ERB number. Default 'log'; accepted: one of
%         'log', 'greenwood', 'linear', 'erb'.
%     band_edges (Hz): the band edges in Hz, n_inserted_ch + 1 of them, replacing the layout;
%         they set the channel count, f_min and f_max. Default [] (none); accepted: a vector of
%         numbers from 20 to 10000, increasing, below 10000.
%     map: a device's default frequency table, setting the band edges and the channel count.
%         Default 'none'; accepted: one of 'none', 'nucleus22', 'ab16', 'medel12'.
%     off: electrodes switched off, 1 the most apical; the range is reallocated over the others.
%         Default [] (none); accepted: a vector of numbers from 1 to 50, whole numbers, at most
%         n_inserted_ch.
%     carrier: what the envelopes modulate: the noise and pulse-train blend, or a tone per
%         channel. Default 'pulse-noise'; accepted: one of 'pulse-noise', 'sine'.
%     sine_phase: the sine carrier's start phases: drawn from the seed per channel, or all zero.
%         Default 'random'; accepted: one of 'random', 'zero'.
%     seed: the random sequence of the carrier noise, the same for the same seed; none, or [],
%         is the program's own sequence. Default none; accepted: whole numbers from 0 to
%         2147483643.
%
%   [Y, INFO] = CIHEAR_SIMULATE(...) also returns a struct INFO with the fields:
%     parameters       the effective value of every parameter, after the cascades
%     seed             the seed, or [] for none
%     sampleRate       FS
%     outputRate       20000, the rate of Y
%     bands            each channel's analysis band in Hz: a struct of column vectors
%                      low, high, center and bandwidth
%     synthesisBands   the band each channel is synthesised in (the electrodes' place
%                      frequencies under freq_shift)
%     measuredBands, measuredSynthesisBands
%                      the -3 dB edges of the filters actually used (center: their
%                      geometric mean)
%     frameStarts      the first sample of each stimulation frame, as an index into Y
%     frameLengths     the number of samples of each frame
%     frameTimes       the start of each frame in seconds
%     electrodogram    channels-by-frames: the level each channel holds over each frame
%                      right after the N-of-M selection (0 when not selected)
%     selected         channels-by-frames logical: the channels selected in each frame
%     electrodes       each channel's electrode, 1 the most apical (channel 1 is the lowest
%                      band): a switched-off electrode has no channel
%     off              the electrodes switched off
%     version          the cihear library's version
%
%   Errors have the identifiers cihear:badInput (X), cihear:badSampleRate (FS),
%   cihear:badParameter (a name or a value), cihear:badArguments (the number of arguments),
%   cihear:rateTooLow (FS too low for that many samples) and cihear:outOfMemory.
%
%   Example:
%     [x, fs] = audioread('speech.wav', 'native');   % int16 samples
%     y = cihear_simulate(x, fs, 'n_on', 4);
%     y = cihear_simulate(x, fs, 'map', 'nucleus22', 'off', [3 7], 'carrier', 'sine');
%     sound(y, 20000);
%
%   See also CIHEAR_TO_PCM16.

% Generated from the parameter table by matlab/make_help.cpp; change the text there.
