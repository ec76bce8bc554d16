#include "signal/SignalVector.h"

SignalVector::SignalVector(unsigned long length)
    : length(static_cast<uint32_t>(length)), signals(this->length, nullptr) {}

SignalVector::~SignalVector() {
    for (Signal* s : signals) {
        delete s;
    }
}
