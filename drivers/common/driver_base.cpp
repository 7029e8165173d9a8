#include "driver_base.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "driver_host.h"
#include "driver_trace.h"
#include "platform/text.h"

namespace {
constexpr int32_t kDriverVersion = 1;
}

DriverBase::DriverBase(const DriverClass& driverClass, const char* variable, const char* clockName,
                       const char* config)
    : DriverObject(*driverClass.clsid), class_(driverClass), variable_(variable),
      clockName_(clockName), hasOverride_(config != nullptr),
      override_(config != nullptr ? config : "") {}

DriverBase::~DriverBase() = default;

void DriverBase::destroy() {
    trace("Release");
    endIfStreaming();
    delete this;
}

void DriverBase::endIfStreaming() {
    if (running_) {
        endStreaming();
        running_ = false;
    }
}

const char* DriverBase::configText() const {
    return hasOverride_ ? override_.c_str() : std::getenv(variable_);
}

void DriverBase::trace(const char* line) const {
    driverTrace(tracePath(), line);
}

void DriverBase::tracef(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    driverTracev(tracePath(), format, args);
    va_end(args);
}

bool DriverBase::readyFor(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    driverTracev(tracePath(), format, args);
    va_end(args);
    return ready();
}

void DriverBase::fail(const char* message) {
    setErrorText(message);
    std::fprintf(stderr, "%s\n", message);
}

void DriverBase::setErrorText(const char* text) {
    copyTruncated(errorMessage_, sizeof errorMessage_, text);
}

void DriverBase::getDriverName(char* name) {
    trace("getDriverName");
    if (name != nullptr) {
        std::snprintf(name, 32, "%s", class_.name);
    }
}

int32_t DriverBase::getDriverVersion() {
    trace("getDriverVersion");
    return kDriverVersion;
}

void DriverBase::getErrorMessage(char* string) {
    trace("getErrorMessage");
    if (string != nullptr) {
        copyTruncated(string, sizeof errorMessage_, errorMessage_);
    }
}

ASIOError DriverBase::start() {
    if (!readyFor("start") || !created_ || running_ || callingFromSwitch()) {
        return ASE_InvalidMode;
    }
    const ASIOError result = startStreaming();
    running_ = result == ASE_OK;
    return result;
}

ASIOError DriverBase::stop() {
    if (!readyFor("stop") || callingFromSwitch()) {
        return ASE_InvalidMode; // from inside a switch it would wait for itself
    }
    endIfStreaming();
    return ASE_OK;
}

ASIOError DriverBase::disposeBuffers() {
    if (!readyFor("disposeBuffers") || !created_ || callingFromSwitch()) {
        return ASE_InvalidMode;
    }
    endIfStreaming();
    freeBuffers();
    return ASE_OK;
}

ASIOError DriverBase::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
    if (!readyFor("getClockSources")) {
        return ASE_InvalidMode;
    }
    return answerOneClockSource(clocks, numSources, clockName_);
}

ASIOError DriverBase::setClockSource(int32_t reference) {
    if (!readyFor("setClockSource %d", static_cast<int>(reference))) {
        return ASE_InvalidMode;
    }
    return reference == 0 ? ASE_OK : ASE_InvalidParameter;
}

ASIOError DriverBase::controlPanel() {
    trace("controlPanel");
    return ready() ? ASE_NotPresent : ASE_InvalidMode;
}

ASIOError DriverBase::future(int32_t selector, void* opt) {
    (void)opt;
    tracef("future %d", static_cast<int>(selector));
    return ready() ? ASE_NotPresent : ASE_InvalidMode;
}
