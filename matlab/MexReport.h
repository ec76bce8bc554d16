// What a MEX function tells the interpreter once its own work is done: warnings, then at most
// one error.
//
// mexErrMsgIdAndTxt leaves the function without unwinding it the C++ way (MATLAB may jump out,
// Octave throws through frames that expect nothing), and so does mexWarnMsgIdAndTxt when the
// user has made that warning an error. The functions therefore do their work in scopes that
// catch every exception and leave only this plain record behind, and raise its messages from a
// scope where no object with a destructor is alive.
#pragma once

#include <mex.h>

#include <cstdio>
#include <string>
#include <type_traits>

namespace mex {

struct Report {
    static constexpr int kMaxWarnings = 8;
    char errorId[48];
    char error[4096];
    int warnings;
    char warningId[kMaxWarnings][48];
    char warning[kMaxWarnings][512];
};
static_assert(std::is_trivially_destructible<Report>::value, "a Report must survive a jump");

inline void Clear(Report& report) {
    report.errorId[0] = '\0';
    report.error[0] = '\0';
    report.warnings = 0;
}

inline bool Failed(const Report& report) {
    return report.errorId[0] != '\0';
}

// Records the error; the first one recorded is the one raised.
inline void Fail(Report& report, const char* id, const std::string& text) {
    if (!Failed(report)) {
        std::snprintf(report.errorId, sizeof report.errorId, "%s", id);
        std::snprintf(report.error, sizeof report.error, "%s", text.c_str());
    }
}

inline void Warn(Report& report, const char* id, const std::string& text) {
    if (report.warnings < Report::kMaxWarnings) {
        const int i = report.warnings++;
        std::snprintf(report.warningId[i], sizeof report.warningId[i], "%s", id);
        std::snprintf(report.warning[i], sizeof report.warning[i], "%s", text.c_str());
    }
}

// Raises the warnings recorded so far (and forgets them), then the error if there is one, which
// does not return. Call only where no C++ object with a destructor is alive.
inline void Raise(Report& report) {
    const int warnings = report.warnings;
    report.warnings = 0;
    for (int i = 0; i < warnings; i++) {
        mexWarnMsgIdAndTxt(report.warningId[i], "%s", report.warning[i]);
    }
    if (Failed(report)) {
        mexErrMsgIdAndTxt(report.errorId, "%s", report.error);
    }
}

}  // namespace mex
