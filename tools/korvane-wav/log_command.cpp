#include "commands.h"
#include "records/record_log.h"

ToolExit runLog(const Arguments& arguments, FILE* out, FILE* err) {
    if (arguments.positional.size() != 2 || arguments.positional[0] != "flush") {
        return usageError(err, "log", "needs flush DB");
    }
    std::string named;
    for (const auto& option : arguments.options) {
        named = option.second; // --spool, the only option
    }
    const std::string& target = arguments.positional[1];
    const std::string spool = spoolFolderFor(target, named);
    const FlushOutcome outcome = flushSpool(target, spool);
    std::fprintf(out, "%d sent, %d already in %s, %d left in %s\n", outcome.sent, outcome.already,
                 printableTarget(target).c_str(), outcome.left, spool.c_str());
    for (const std::string& aside : outcome.rejected) {
        std::fprintf(err, "korvane-wav: set aside, not sent: %s\n", aside.c_str());
    }
    if (outcome.left > 0) {
        std::fprintf(err, "korvane-wav: %d %s still spooled: %s\n", outcome.left,
                     outcome.left == 1 ? "record is" : "records are", outcome.error.c_str());
    }
    return outcome.left > 0 || !outcome.rejected.empty() ? kToolNotLogged : kToolOk;
}
