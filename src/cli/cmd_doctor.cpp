// zarn doctor
#include <ostream>

#include "app/Doctor.h"
#include "app/SystemProbes.h"
#include "cli/Command.h"

namespace zarn::cli {

int runDoctor(CommandContext& context) {
    doctor::SystemProbes probes;
    const doctor::Diagnosis diagnosis = doctor::diagnose(probes);
    context.out << doctor::render(diagnosis) << std::flush;
    return diagnosis.exitStatus();
}

namespace {
Registration reg{{"doctor",
                  "Check what a dictation needs in this session (key, microphone, text insertion, speech engine, "
                  "tray), with a fix for each missing piece; exits 1 when a dictation cannot work.",
                  [](CLI::App&) { return Runner(&runDoctor); }}};
}  // namespace

}  // namespace zarn::cli
