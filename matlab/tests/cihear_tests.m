function cihear_tests(exe, work)
% CIHEAR_TESTS(EXE, WORK): the MEX functions against the cihear executable EXE, writing its
% files in the folder WORK. Stops with an error at the first failure.
  warning('off', 'backtrace');
  same_as_program(exe, work);
  strict_parameters();
  seeds_and_repeats();
  bad_arguments();
  inspection();
  implant_models(exe, work);
  help_beside_mex();
  fprintf('cihear_tests: all passed\n');
end

% A few seconds of varied sound: a chirp, a modulated tone and a deterministic hiss.
function pcm = test_sound(n, fs, phase)
  t = (0:n-1)' / fs;
  hiss = mod((1:n)' * 7919 + phase * 104729, 65521) / 65521 - 0.5;
  s = 0.3 * sin(2*pi*(200*t + 1500*t.^2) + phase) + ...
      0.2 * sin(2*pi*3000*t) .* (1 + sin(2*pi*3*t)) + 0.1 * hiss;
  pcm = int16(round(s * 30000));
end

function write_wav(path, pcm, fs)
  channels = size(pcm, 2);
  data = reshape(pcm.', [], 1);
  f = fopen(path, 'w', 'ieee-le');
  fwrite(f, 'RIFF', 'uchar'); fwrite(f, 36 + 2*numel(data), 'uint32');
  fwrite(f, 'WAVEfmt ', 'uchar'); fwrite(f, 16, 'uint32');
  fwrite(f, [1 channels], 'uint16'); fwrite(f, [fs, fs*2*channels], 'uint32');
  fwrite(f, [2*channels 16], 'uint16');
  fwrite(f, 'data', 'uchar'); fwrite(f, 2*numel(data), 'uint32'); fwrite(f, data, 'int16');
  fclose(f);
end

% The samples of the program's output file (a 44-byte header, then the data).
function pcm = program(exe, work, pcm, fs, args)
  in = fullfile(work, 'in.wav');
  out = fullfile(work, 'out.wav');
  write_wav(in, pcm, fs);
  [status, text] = system(sprintf('"%s" -i "%s" -o "%s" %s 2>&1', exe, in, out, args));
  assert(status == 0, 'cihear %s failed: %s', args, text);
  f = fopen(out, 'r');
  bytes = fread(f, Inf, 'uint8=>uint8');
  fclose(f);
  assert(strcmp(char(bytes(37:40)'), 'data'), 'unexpected output header');
  pcm = typecast(bytes(45:end), 'int16');
  assert(2 * numel(pcm) == double(typecast(bytes(41:44), 'uint32')), 'unexpected data size');
end

function check_same(y, expected, what)
  assert(iscolumn(y) && isa(y, 'double'), '%s: y is not a double column', what);
  assert(isequal(cihear_to_pcm16(y), expected), '%s: differs from the program''s output', what);
end

function same_as_program(exe, work)
  % int16 mono at a rate that needs converting, the defaults.
  pcm = test_sound(8000, 16000, 0);
  check_same(cihear_simulate(pcm, 16000), program(exe, work, pcm, 16000, ''), 'int16 mono');
  % int16 stereo: the pair summed, halved and truncated toward zero, as the program mixes.
  stereo = [test_sound(9000, 22050, 0), test_sound(9000, 22050, 1)];
  args = {'n_on', 4, 'rate', 900, 'envelope_detection', 1};
  check_same(cihear_simulate(stereo, 22050, args{:}), ...
             program(exe, work, stereo, 22050, '--n_on 4 --rate 900 -e 1'), 'int16 stereo');
  % Two frames of stereo as a 2-by-2 matrix.
  check_same(cihear_simulate(stereo(1:2, :), 8000), program(exe, work, stereo(1:2, :), 8000, ''), ...
             '2-by-2 stereo');
  % double and single input holding 16-bit values, at the output rate.
  pcm = test_sound(10000, 20000, 2);
  args = {'eas', true, 'cutoff_freq', 1000, 'freq_shift', 1, 'synchronization', 0.5};
  expected = program(exe, work, pcm, 20000, ...
                     '--eas 1 --cutoff_freq 1000 --freq_shift 1 --synchronization 0.5');
  check_same(cihear_simulate(double(pcm) / 32768, 20000, args{:}), expected, 'double mono');
  check_same(cihear_simulate(single(pcm) / 32768, 20000, args{:}), expected, 'single mono');
  check_same(cihear_simulate(double(pcm') / 32768, 20000, args{:}), expected, 'double row');
  % double stereo: the mean of the columns, equal to the program's mix when each pair's sum is
  % even. Fewer implant channels cap the others, with a warning.
  left = test_sound(12000, 44100, 3);
  stereo = [left, left + int16(2 * mod((1:12000)', 50)) - 50];
  lastwarn('');
  y = cihear_simulate(double(stereo) / 32768, 44100, 'n_chan_ci', 8);
  [~, id] = lastwarn();
  assert(strcmp(id, 'cihear:cascade'), 'no cascade warning');
  check_same(y, program(exe, work, stereo, 44100, '--n_chan_ci 8'), 'double stereo');
  % Empty input, as an empty file.
  assert(isequal(size(cihear_simulate(zeros(0, 1), 44100)), [0 1]));
end

% The error identifier and the words the message must contain.
function expect_error(f, id, varargin)
  try
    f();
  catch err
    assert(strcmp(err.identifier, id), 'expected %s, got %s: %s', id, err.identifier, ...
           err.message);
    for k = 1:numel(varargin)
      assert(~isempty(strfind(err.message, varargin{k})), ...
             'message "%s" lacks "%s"', err.message, varargin{k});
    end
    return;
  end
  error('cihear_tests:noError', 'expected the error %s', id);
end

% The call f() warns with cihear:cascade and the words given.
function expect_warning(f, words)
  lastwarn('');
  f();
  [text, id] = lastwarn();
  assert(strcmp(id, 'cihear:cascade') && ~isempty(strfind(text, words)), ...
         'expected the warning "%s", got %s: %s', words, id, text);
end

function strict_parameters()
  x = test_sound(2000, 20000, 0);
  sim = @(varargin) cihear_simulate(x, 20000, varargin{:});
  expect_error(@() sim('rate', 20000), 'cihear:badParameter', 'rate', '20000', '10 to 10000');
  expect_error(@() sim('n_on', 2.5), 'cihear:badParameter', 'n_on', '2.5', 'whole number');
  expect_error(@() sim('eas', 2), 'cihear:badParameter', 'eas', '0 (off) or 1 (on)');
  expect_error(@() sim('rate', NaN), 'cihear:badParameter', 'rate', 'not a finite number');
  expect_error(@() sim('f_min', 3000, 'f_max', 2000), 'cihear:badParameter', 'f_max', '2000');
  expect_error(@() sim('N_on', 4), 'cihear:badParameter', 'N_on', 'n_inserted_ch', 'and seed');
  % A logical is the value of a switch only.
  for name = {'n_on', 'rate', 'envelope_detection', 'seed'}
    expect_error(@() sim(name{1}, true), 'cihear:badParameter', name{1}, 'not true or false');
  end
  expect_error(@() sim('rate', 'fast'), 'cihear:badParameter', 'rate');
  expect_error(@() sim('rate', [900 1800]), 'cihear:badParameter', 'rate');
  expect_error(@() sim(5, 4), 'cihear:badParameter', 'argument 3');
  expect_error(@() sim('seed', -1), 'cihear:badParameter', 'seed', '0 to 2147483643');
  expect_error(@() sim('seed', 1.5), 'cihear:badParameter', 'seed', 'whole number');
  expect_error(@() sim('rate'), 'cihear:badArguments');
  % A cascade made an error by the user stops the call cleanly.
  warning('error', 'cihear:cascade');
  expect_error(@() sim('n_chan_ci', 4), 'cihear:cascade', 'n_chan_ci = 4');
  warning('on', 'cihear:cascade');
  % What the command line does without a word is said here.
  expect_warning(@() sim('f_max', 1000), ...
                 'f_max raised to cutoff_freq = 2000 Hz although eas is off');
  expect_warning(@() sim('n_chan_ci', 22), '22 electrodes, 12 inserted: set n_inserted_ch');
  [~, info] = sim('n_chan_ci', 4, 'n_inserted_ch', 10, 'f_max', 3000, 'cutoff_freq', 4000);
  assert(info.parameters.n_inserted_ch == 4 && info.parameters.n_on == 4 && ...
         info.parameters.f_max == 4000, 'cascades not applied');
end

function seeds_and_repeats()
  x = test_sound(4000, 20000, 1);
  sim = @(varargin) cihear_simulate(x, 20000, 'synchronization', 0, varargin{:});
  plain = sim();
  assert(isequal(sim(), plain), 'repeated calls differ');
  assert(isequal(sim('seed', []), plain), 'seed [] is not the program''s sequence');
  seeded = sim('seed', 3);
  assert(isequal(sim('seed', 3), seeded), 'the same seed gives different results');
  assert(~isequal(seeded, plain), 'a seed changes nothing');
  assert(~isequal(sim('seed', 4), seeded), 'seeds 3 and 4 give the same result');
  assert(isequal(sim(), plain), 'a seeded call changed the next unseeded one');
end

function [a, b, c] = three_outputs(x)
  [a, b, c] = cihear_simulate(x, 20000);
end

function bad_arguments()
  x = double(test_sound(2000, 20000, 0)) / 32768;
  bad = {complex(x, x), sparse(x), [x; NaN], [Inf; x], int32(x), x > 0, 'abc', {x}, ...
         struct('x', x), zeros(10, 3), zeros(4, 2, 2)};
  for k = 1:numel(bad)
    expect_error(@() cihear_simulate(bad{k}, 20000), 'cihear:badInput');
  end
  expect_error(@() cihear_simulate([x(1:5); NaN], 20000), 'cihear:badInput', 'NaN or an infinity (first at x(6)');
  rates = {[], 0, 1.5, -8000, NaN, Inf, 2^32, [8000 8000], '8000', true, complex(8000, 1)};
  for k = 1:numel(rates)
    expect_error(@() cihear_simulate(x, rates{k}), 'cihear:badSampleRate');
  end
  expect_error(@() cihear_simulate(x, 1), 'cihear:rateTooLow', '1 Hz');
  expect_error(@() cihear_simulate(), 'cihear:badArguments');
  expect_error(@() cihear_simulate(x), 'cihear:badArguments');
  expect_error(@() three_outputs(x), 'cihear:badArguments');
  expect_error(@() cihear_to_pcm16('abc'), 'cihear:badInput');
  expect_error(@() cihear_to_pcm16(complex(1, 1)), 'cihear:badInput');
  expect_error(@() cihear_to_pcm16(), 'cihear:badArguments');
  % The interpreter is still there and the functions still work.
  assert(numel(cihear_simulate(x, 20000)) == numel(x));
end

function inspection()
  x = test_sound(6000, 20000, 4);
  [y, info] = cihear_simulate(x, 20000, 'n_on', 4, 'rate', 900, 'n_inserted_ch', 10);
  assert(isequal(cihear_simulate(x, 20000, 'n_on', 4, 'rate', 900, 'n_inserted_ch', 10), y), ...
         'inspecting changes the output');
  p = info.parameters;
  assert(p.n_on == 4 && p.rate == 900 && p.n_inserted_ch == 10 && p.n_chan_ci == 12);
  frames = numel(info.frameStarts);
  assert(isequal(size(info.electrodogram), [10, frames]) && islogical(info.selected));
  assert(all(sum(info.selected, 1) <= 4) && any(sum(info.selected, 1) == 4), 'not N-of-M');
  assert(all(info.electrodogram(~info.selected) == 0), 'levels of unselected channels');
  assert(info.frameStarts(1) == 1 && isequal(diff(info.frameStarts), info.frameLengths(1:end-1)));
  assert(info.frameStarts(end) + info.frameLengths(end) - 1 <= numel(y));
  assert(abs(info.frameTimes(2) - 1 / 900) < 1e-4, 'frame times');
  assert(numel(info.bands.low) == 10 && all(info.bands.low < info.bands.high));
  assert(isequal(info.synthesisBands, info.bands) && isempty(info.seed));
  [~, shifted] = cihear_simulate(x, 20000, 'freq_shift', 1, 'n_inserted_ch', 8, 'seed', 7);
  assert(~isequal(shifted.synthesisBands.low, shifted.bands.low) && shifted.seed == 7);
end

function implant_models(exe, work)
  pcm = test_sound(8000, 16000, 5);
  % The program's bytes for a device map with electrodes off, and for a layout with tones.
  warning('off', 'cihear:cascade');
  check_same(cihear_simulate(pcm, 16000, 'map', 'nucleus22', 'off', [3 7], 'n_on', 8), ...
             program(exe, work, pcm, 16000, '--map nucleus22 --off 3,7 --n_on 8'), 'map, off');
  edges = [250 500 1000.5 2000 4000 7000];
  args = {'bands', 'greenwood', 'carrier', 'sine', 'sine_phase', 'zero', 'off', 2};
  check_same(cihear_simulate(pcm, 16000, args{:}), ...
             program(exe, work, pcm, 16000, '--bands greenwood --carrier sine --sine_phase zero --off 2'), ...
             'layout, tones');
  check_same(cihear_simulate(pcm, 16000, 'band_edges', single(edges'), 'carrier', 'sine'), ...
             program(exe, work, pcm, 16000, '--band_edges 250,500,1000.5,2000,4000,7000 --carrier sine'), ...
             'band edges (a single column)');
  % The effective values as names and lists; one row per active electrode.
  [~, info] = cihear_simulate(pcm, 16000, 'map', 'ab16', 'off', [16 1]);
  warning('on', 'cihear:cascade');
  p = info.parameters;
  assert(strcmp(p.map, 'ab16') && strcmp(p.bands, 'log') && strcmp(p.carrier, 'pulse-noise'));
  assert(isequal(p.off, [16 1]) && numel(p.band_edges) == 17 && p.band_edges(end) == 8700);
  assert(isequal(info.off, [1; 16]) && isequal(info.electrodes, (2:15)'));
  assert(size(info.electrodogram, 1) == 14 && numel(info.bands.low) == 14);
  [~, plain] = cihear_simulate(pcm, 16000);
  assert(isempty(plain.parameters.off) && isempty(plain.off) && strcmp(plain.parameters.map, 'none'));
  expect_warning(@() cihear_simulate(pcm, 16000, 'map', 'nucleus22'), 'by map nucleus22');
  % Bad values: one error each, in the library's words.
  sim = @(varargin) cihear_simulate(pcm, 16000, varargin{:});
  expect_error(@() sim('map', 'nucleus24'), 'cihear:badParameter', 'map', 'nucleus24', 'nucleus22, ab16');
  expect_error(@() sim('bands', 2), 'cihear:badParameter', 'bands', 'is not a name');
  expect_error(@() sim('carrier', {'sine'}), 'cihear:badParameter', 'carrier', 'character vector');
  expect_error(@() sim('off', 13), 'cihear:badParameter', 'off = 13', 'not an inserted electrode');
  expect_error(@() sim('off', 1:12), 'cihear:badParameter', 'every electrode');
  expect_error(@() sim('off', '3,7'), 'cihear:badParameter', 'off', 'not a list of numbers');
  expect_error(@() sim('off', [3 7; 1 2]), 'cihear:badParameter', 'off', 'double vector');
  expect_error(@() sim('off', int32([3 7])), 'cihear:badParameter', 'off', 'double vector');
  assert(isequal(sim('off', int32(3)), sim('off', 3)), 'a whole scalar is a list of one');
  expect_error(@() sim('band_edges', [300 200 400]), 'cihear:badParameter', 'must increase');
  expect_error(@() sim('map', 'ab16', 'band_edges', edges), 'cihear:badParameter', 'not both');
  expect_error(@() sim('rate', 'fast'), 'cihear:badParameter', 'rate', 'not a number');
end

function help_beside_mex()
  text = get_help_text('cihear_simulate');
  names = {'rate', 'f_min', 'f_max', 'length_ci', 'n_chan_ci', 'n_inserted_ch', 'n_on', ...
           'interact_decay', 'envelope_detection', 'synchronization', 'eas', 'cutoff_freq', ...
           'freq_shift', 'bands', 'band_edges', 'map', 'off', 'carrier', 'sine_phase', 'seed', ...
           'cihear:cascade'};
  for k = 1:numel(names)
    assert(~isempty(strfind(text, [names{k} ' '])) || ~isempty(strfind(text, [names{k} ':'])), ...
           'help lacks %s', names{k});
  end
  % The second output is part of the help, not cut off after the parameters.
  fields = {'[Y, INFO]', 'frameStarts', 'electrodogram', 'selected', 'cihear:badParameter'};
  for k = 1:numel(fields)
    assert(~isempty(strfind(text, fields{k})), 'help lacks %s', fields{k});
  end
  assert(isempty(strfind(text, 'Generated from')), 'the note on the generated file is in the help');
  assert(~isempty(strfind(get_help_text('cihear_to_pcm16'), 'int16')));
end
