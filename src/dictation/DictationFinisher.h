#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Clock.h"
#include "contracts/Corrections.h"
#include "contracts/DictationRun.h"
#include "contracts/TextFormatter.h"

namespace zarn {

// What happens to a dictation's text once the engine is done with it: cleanup, the
// dictionary's corrections and the run record. The application's controller and
// `zarn transcribe` both finish through this, so the two never disagree on a transcript
// or on how its times are measured.
class DictationFinisher {
public:
    using FormatterFactory = std::function<std::shared_ptr<TextFormatter>(bool smartCleanup)>;

    struct Timing {
        SystemTime releasedAt;  // when the audio ended: the key's release, a file's end
        double audioSeconds = 0;
        std::string engineName;
    };

    // `fixedFormatter`, when given, serves every dictation; otherwise `makeFormatter` picks
    // one per dictation. The collaborators must outlive the finisher.
    DictationFinisher(Clock& clock, std::shared_ptr<TextFormatter> fixedFormatter, FormatterFactory makeFormatter,
                      DictionaryCorrections& dictionary, RunRecorder& recorder);

    // The formatter for one dictation; null when cleanup is off or none is configured.
    std::shared_ptr<TextFormatter> formatterFor(bool cleanupEnabled, bool smartCleanup) const;

    // Applies the corrections to the cleaned text and, given the timing, records the run;
    // the run's text is what the user gets. processSeconds runs from the release to now.
    DictationRun correctAndRecord(const std::string& cleaned, const std::optional<Timing>& timing);

private:
    Clock& clock_;
    std::shared_ptr<TextFormatter> fixedFormatter_;
    FormatterFactory makeFormatter_;
    DictionaryCorrections& dictionary_;
    RunRecorder& recorder_;
};

}  // namespace zarn
