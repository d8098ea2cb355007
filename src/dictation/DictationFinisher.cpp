#include "dictation/DictationFinisher.h"

#include "base/Log.h"
#include "base/Uuid.h"

namespace zarn {

DictationFinisher::DictationFinisher(Clock& clock, std::shared_ptr<TextFormatter> fixedFormatter,
                                     FormatterFactory makeFormatter, DictionaryCorrections& dictionary,
                                     RunRecorder& recorder)
    : clock_(clock),
      fixedFormatter_(std::move(fixedFormatter)),
      makeFormatter_(std::move(makeFormatter)),
      dictionary_(dictionary),
      recorder_(recorder) {}

std::shared_ptr<TextFormatter> DictationFinisher::formatterFor(bool cleanupEnabled, bool smartCleanup) const {
    if (!cleanupEnabled) return nullptr;
    if (fixedFormatter_) return fixedFormatter_;
    if (makeFormatter_) return makeFormatter_(smartCleanup);
    return nullptr;
}

DictationRun DictationFinisher::correctAndRecord(const std::string& cleaned, const std::optional<Timing>& timing) {
    auto corrected = dictionary_.applyCorrections(cleaned);
    if (!corrected.applied.empty()) {
        Log::speech().info("dictionary · %{public}ld correction(s) applied", static_cast<long>(corrected.applied.size()));
    }
    DictationRun run;
    run.text = std::move(corrected.text);
    if (!timing) return run;
    run.id = makeUuid();
    run.date = timing->releasedAt;
    run.engine = timing->engineName;
    run.audioSeconds = timing->audioSeconds;
    run.processSeconds = secondsBetween(timing->releasedAt, clock_.now());
    if (!corrected.applied.empty()) run.corrections = std::move(corrected.applied);
    recorder_.record(run);
    return run;
}

}  // namespace zarn
