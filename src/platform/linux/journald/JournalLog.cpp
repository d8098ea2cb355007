#include "platform/linux/journald/JournalLog.h"

#include <systemd/sd-journal.h>
#include <sys/stat.h>

#include <string>

#include "base/Log.h"

namespace zarn::journald {

void install() {
    struct stat st {};
    if (::stat("/run/systemd/journal/socket", &st) != 0) return;
    Log::setSystemSink([subsystem = std::string(Log::subsystem)](const Log::Record& record) {
        sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=%d", record.level == Log::Level::error ? 3 : 6,
                        "SYSLOG_IDENTIFIER=zarn", "ZARN_SUBSYSTEM=%s", subsystem.c_str(), "ZARN_CATEGORY=%s",
                        record.category.c_str(), nullptr);
    });
}

}  // namespace zarn::journald
