#include "io/WaveOutput.h"

#include "io/AtomicOutput.h"
#include "wav/WaveFile.h"

WaveWriteResult WriteMonoWave16(const char* name, const int16_t* samples, size_t n, uint32_t rate) {
    AtomicOutput output(name);
    WaveFile wave;
    if (!output.Ready() || !wave.OpenWrite(output.Path())) {
        return WaveWriteResult::CouldNotOpen;
    }
    wave.SetupFormat(static_cast<int>(rate), 16, 1);
    // WriteSamples only reads the buffer. Close writes the final header and flushes: only then
    // is the file complete.
    short* data = const_cast<short*>(reinterpret_cast<const short*>(samples));
    if ((n > 0 && !wave.WriteSamples(data, n)) || !wave.Close() || !output.Commit()) {
        return WaveWriteResult::CouldNotWrite;
    }
    return WaveWriteResult::Written;
}
