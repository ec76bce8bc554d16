% cihear: what a cochlear-implant user would roughly hear of a sound.
%
%   cihear_simulate  - simulate a sound, as the cihear program does, with the parameters by name
%   cihear_to_pcm16  - the 16-bit samples the program writes for a simulated sound
%   build            - build the MEX functions in MATLAB (Octave: make matlab)
