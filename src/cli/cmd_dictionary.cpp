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

void expectNoArguments(const std::vector<std::string>& args) {
    if (!args.empty()) throw zarn::cli::UsageError("unexpected argument '" + args.front() + "'");
}

int runList(zarn::cli::CommandContext& context) {
    auto& args = context.args;
    bool json = zarn::cli::takeFlag(args, "--json");
    auto file = zarn::cli::takeDictionaryOption(args);
    expectNoArguments(args);
    zarn::EventLoop loop;
    zarn::DictionaryStore store(file.path, loop, false);
    zarn::cli::reportUnreadable(store, file, context.err);
    for (const auto& entry : store.entries()) {
        if (json) {
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

int runAdd(zarn::cli::CommandContext& context) {
    auto& args = context.args;
    auto file = zarn::cli::takeDictionaryOption(args, false);
    std::string hear;
    std::string write;
    bool hasHear = zarn::cli::takeOption(args, "--hear", hear);
    bool hasWrite = zarn::cli::takeOption(args, "--write", write);

    // Texts the file could not give back as they were entered are refused.
    std::optional<DictionaryEntry> entry;
    if (hasHear || hasWrite) {
        if (!hasHear || !hasWrite) throw zarn::cli::UsageError("a correction needs both --hear and --write");
        expectNoArguments(args);
        hear = fieldValue(hear, "the heard text");
        write = fieldValue(write, "the written text");
        if (hear.find("->") != std::string::npos) throw std::runtime_error("the heard text may not contain \"->\"");
        if (hear.front() == '#') throw std::runtime_error("the heard text may not begin with \"#\"");
        entry = DictionaryEntry::correction(hear, write);
    } else {
        if (args.size() != 1) throw zarn::cli::UsageError("expected one TERM (quote it)");
        std::string term = fieldValue(args.front(), "the term");
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

int runCheck(zarn::cli::CommandContext& context) {
    auto& args = context.args;
    zarn::cli::takeDictionaryOption(args, false);  // accepted for symmetry; the check needs no file
    std::string hear;
    std::string write;
    if (!zarn::cli::takeOption(args, "--hear", hear) || !zarn::cli::takeOption(args, "--write", write)) {
        throw zarn::cli::UsageError("check needs --hear and --write");
    }
    expectNoArguments(args);
    printWarnings(DictionaryEntry::correction(hear, write), context.out, "");
    return 0;
}

int runDictionary(zarn::cli::CommandContext& context) {
    auto& args = context.args;
    if (args.empty()) throw zarn::cli::UsageError("expected list, add or check");
    std::string sub = args.front();
    args.erase(args.begin());
    if (sub == "list") return runList(context);
    if (sub == "add") return runAdd(context);
    if (sub == "check") return runCheck(context);
    throw zarn::cli::UsageError("unknown dictionary command '" + sub + "'");
}

zarn::cli::Registration reg{
    {"dictionary",
     "dictionary list [--dictionary FILE] [--json]\n"
     "  dictionary add [--dictionary FILE] TERM | --hear H --write W\n"
     "  dictionary check --hear H --write W",
     "List the dictionary, add a term or correction, or check a correction for risky patterns.", &runDictionary}};

}  // namespace
