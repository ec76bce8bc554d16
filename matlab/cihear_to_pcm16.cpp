// pcm = cihear_to_pcm16(y): the int16 samples the cihear program writes to its output file for
// the samples y, for MATLAB and Octave. The help is cihear_to_pcm16.m.
#include <cihear/cihear.h>
#include <mex.h>

#include <cstdint>
#include <string>

#include "MexReport.h"

namespace {

void Convert(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[], mex::Report& report) {
    try {
        if (nrhs != 1 || nlhs > 1) {
            mex::Fail(report, "cihear:badArguments", "usage: pcm = cihear_to_pcm16(y)");
            return;
        }
        const mxArray* y = prhs[0];
        const mxClassID id = mxGetClassID(y);
        if ((id != mxDOUBLE_CLASS && id != mxSINGLE_CLASS) || mxIsComplex(y) || mxIsSparse(y)) {
            mex::Fail(report, "cihear:badInput",
                      std::string("y must be a real, full double or single array; it is ") +
                          (mxIsComplex(y) ? "complex " : "") + (mxIsSparse(y) ? "sparse " : "") +
                          mxGetClassName(y));
            return;
        }
        mxArray* pcm = mxCreateNumericArray(mxGetNumberOfDimensions(y), mxGetDimensions(y),
                                            mxINT16_CLASS, mxREAL);
        auto* out = static_cast<int16_t*>(mxGetData(pcm));
        const size_t n = mxGetNumberOfElements(y);
        for (size_t i = 0; i < n; i++) {
            out[i] =
                cihear::ToPcm16(id == mxDOUBLE_CLASS ? static_cast<const double*>(mxGetData(y))[i]
                                                     : static_cast<const float*>(mxGetData(y))[i]);
        }
        plhs[0] = pcm;
    } catch (...) {
        mex::Fail(report, "cihear:outOfMemory", "not enough memory");
    }
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mex::Report report;  // plain data only in this scope: Raise may leave it without unwinding
    mex::Clear(report);
    Convert(nlhs, plhs, nrhs, prhs, report);
    mex::Raise(report);
}
