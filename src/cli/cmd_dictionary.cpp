// zarn dictionary list|add|check: the user's dictionary from the command line.

#include <nlohmann/json.hpp>

#include <ostream>
#include <stdexcept>

#include "base/EventLoop.h"
#include "base/Unicode.h"
#include "cli/Command.h"
#include "cli/DictionaryOptions.h"
#include "dictionary/DictionaryStore.h"
#include "dictionary/DictionaryWarning.h"

namespace {

using zarn::DictionaryEntry;

struct Options {
    bool json = false;
    std::string dictionary;
    std::string term, hear, write;
    const CLI::Option* termGiven = nullptr;
    const CLI::Option* hearGiven = nullptr;
    const CLI::Option* writeGiven = nullptr;
};

int runList(const Options& options, zarn::cli::CommandContext& context) {
    auto file = zarn::cli::dictionaryFile(options.dictionary);
    zarn::EventLoop loop;
    zarn::DictionaryStore store(file.path, loop, false);
    zarn::cli::reportUnreadable(store, file, context.err);
    for (const auto& entry : store.entries()) {
        if (options.json) {
            nlohmann::ordered_json object{{"id", entry.id},
                                          {"kind", zarn::dictionaryKind::rawValue(entry.kind)},
                                          {"write", entry.write},
                                          {"hear", entry.hear},
                                          {"isEnabled", entry.isEnabled}};
            context.out << object.dump() << "\n";
        } else {
            context.out << entry.fileLine() << "\n";
        }
    }
    return 0;
}

// A field as it will stand in the file: one line, trimmed, not empty.
std::string fieldValue(const std::string& raw, const std::string& what) {
    if (!zarn::unicode::isValidUtf8(raw)) throw std::runtime_error(what + " is not valid UTF-8");
    if (raw.find('\n') != std::string::npos || raw.find('\r') != std::string::npos) {
        throw std::runtime_error(what + " must be one line");
    }
    std::string value = zarn::unicode::trimHorizontalWhitespace(raw);
    if (value.empty()) throw std::runtime_error(what + " is empty");
    return value;
}

void printWarnings(const DictionaryEntry& entry, std::ostream& out, const char* prefix) {
    for (const auto& warning : zarn::DictionaryWarning::check(entry)) out << prefix << warning.message << "\n";
}

int runAdd(const Options& options, zarn::cli::CommandContext& context) {
    auto file = zarn::cli::dictionaryFile(options.dictionary, false);
    const bool hasHear = options.hearGiven->count() > 0;
    const bool hasWrite = options.writeGiven->count() > 0;

    // Texts the file could not give back as they were entered are refused.
    std::optional<DictionaryEntry> entry;
    if (hasHear || hasWrite) {
        if (!hasHear || !hasWrite) throw zarn::cli::UsageError("a correction needs both --hear and --write");
        if (options.termGiven->count() > 0) throw zarn::cli::UsageError("unexpected argument '" + options.term + "'");
        const std::string hear = fieldValue(options.hear, "the heard text");
        const std::string write = fieldValue(options.write, "the written text");
        if (hear.find("->") != std::string::npos) throw std::runtime_error("the heard text may not contain \"->\"");
        if (hear.front() == '#') throw std::runtime_error("the heard text may not begin with \"#\"");
        entry = DictionaryEntry::correction(hear, write);
    } else {
        if (options.termGiven->count() == 0) throw zarn::cli::UsageError("expected one TERM (quote it)");
        std::string term = fieldValue(options.term, "the term");
        if (term.find("->") != std::string::npos) {
            throw std::runtime_error("a term may not contain \"->\" (use --hear and --write for a correction)");
        }
        if (term.front() == '#') throw std::runtime_error("a term may not begin with \"#\"");
        entry = DictionaryEntry::term(term);
    }
    printWarnings(*entry, context.err, "warning: ");

    zarn::EventLoop loop;
    zarn::DictionaryStore store(file.path, loop, false);
    bool saved = store.add(*entry);
    if (store.movedAsideFile()) {
        context.err << "note: " << store.unreadableReason() << "; kept it as " << store.movedAsideFile()->string()
                    << "\n";
    }
    if (!saved) throw std::runtime_error("cannot save the dictionary: " + store.lastSaveError());
    return 0;
}

int runCheck(const Options& options, zarn::cli::CommandContext& context) {
    printWarnings(DictionaryEntry::correction(options.hear, options.write), context.out, "");
    return 0;
}

// The three subcommands share one Options; each declares the part it takes.
zarn::cli::Command subcommand(std::string name, std::string summary, bool json, bool term, bool needsPair,
                              int (*run)(const Options&, zarn::cli::CommandContext&)) {
    return {std::move(name), std::move(summary), [=](CLI::App& app) {
                auto o = std::make_shared<Options>();
                zarn::cli::addDictionaryOption(app, o->dictionary);
                if (json) app.add_flag("--json", o->json, "Print one JSON object per entry.");
                if (term) o->termGiven = app.add_option("TERM", o->term, "A word or phrase to recognise and write as is.");
                if (term || needsPair) {
                    o->hearGiven = app.add_option("--hear", o->hear, "What the speech engine hears.")
                                       ->type_name("HEARD")->required(needsPair);
                    o->writeGiven = app.add_option("--write", o->write, "What to write instead.")
                                        ->type_name("WRITTEN")->required(needsPair);
                }
                return zarn::cli::Runner([o, run](auto& context) { return run(*o, context); });
            }};
}

zarn::cli::Registration reg{{"dictionary",
                             "List the dictionary, add a term or correction, or check a correction for risky patterns.",
                             [](CLI::App& app) {
                                 return zarn::cli::declareSubcommands(
                                     app, {subcommand("list", "Print the dictionary's entries, one a line.", true,
                                                      false, false, &runList),
                                           subcommand("add", "Add a TERM, or a correction with --hear and --write.",
                                                      false, true, false, &runAdd),
                                           subcommand("check", "Print the warnings a correction would raise.", false,
                                                      false, true, &runCheck)});
                             }}};

}  // namespace
