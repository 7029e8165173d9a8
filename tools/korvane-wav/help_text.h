// What korvane-wav --help and korvane-wav COMMAND --help print.
#pragma once

extern const char kMainHelp[];
extern const char kConvertHelp[];
extern const char kGenHelp[];
extern const char kCheckHelp[];
extern const char kIrHelp[];
extern const char kLogHelp[];
extern const char kLimitsHelp[];
extern const char kReportHelp[];
