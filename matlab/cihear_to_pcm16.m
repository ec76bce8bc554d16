%CIHEAR_TO_PCM16  The 16-bit samples the cihear program writes for simulated samples.
%   PCM = CIHEAR_TO_PCM16(Y) converts the double (or single) array Y, such as the output of
%   CIHEAR_SIMULATE, to an int16 array of the same size holding exactly the samples the
%   program stores in its output file: 32768 Y rounded the program's way, which is not
%   rounding to nearest (negative halves move toward zero, and 1.0 wraps to -32768). Values
%   beyond the 16-bit range keep their low 16 bits; NaN and Inf give 0.
%
%   Example:
%     y = cihear_simulate(x, fs);
%     audiowrite('out.wav', cihear_to_pcm16(y), 20000);   % the program's output file
%
%   See also CIHEAR_SIMULATE.
