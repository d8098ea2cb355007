#include "SphinxModel.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace transcribe::sphinx {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHmmPrefix = "hmm/";
constexpr std::uintmax_t kMaxFileBytes = 1ull << 31;

// A file name taken from the model file must stay inside the folder it is written to.
bool safeFileName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\' || c == '\0'; });
}

bool readFile(const fs::path& path, std::vector<std::uint8_t>& out, std::string& error) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec || size > kMaxFileBytes) {
        error = path.string() + ": cannot read";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    out.resize(static_cast<std::size_t>(size));
    if (!in || !in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()))) {
        error = path.string() + ": cannot read";
        return false;
    }
    return true;
}

bool writeFile(const fs::path& path, const std::uint8_t* data, std::uint64_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    return static_cast<bool>(out);
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool isLanguageModel(const std::string& name) {
    const auto endsWith = [&](std::string_view suffix) {
        return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    return (endsWith(".lm.bin") || endsWith(".lm") || endsWith(".lm.dmp") || endsWith(".arpa")) &&
           name.find("phone") == std::string::npos;
}

// Removes the folder and what it holds when it goes out of scope.
struct TempFolder {
    fs::path path;
    ~TempFolder() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

}  // namespace

bool pack(const std::string& folder, const std::string& outPath, const std::string& languageCode,
          std::string& error) {
    std::error_code ec;
    const fs::path root(folder);
    if (!fs::is_directory(root, ec)) {
        error = folder + ": not a folder";
        return false;
    }
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(root, ec)) entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    const std::string stem = root.filename().empty() ? root.parent_path().filename().string() : root.filename().string();

    fs::path hmm;
    if (fs::is_regular_file(root / "mdef", ec)) hmm = root;
    for (const auto& p : entries) {
        if (hmm.empty() && fs::is_directory(p, ec) && fs::is_regular_file(p / "mdef", ec)) hmm = p;
    }
    fs::path dict, lm;
    for (const auto& p : entries) {
        if (!fs::is_regular_file(p, ec)) continue;
        const std::string name = p.filename().string();
        if (name.size() > 5 && name.ends_with(".dict") && (dict.empty() || name == "cmudict-" + stem + ".dict")) {
            dict = p;
        }
        if (isLanguageModel(name) && (lm.empty() || name.rfind(stem + ".lm", 0) == 0)) lm = p;
    }
    if (hmm.empty()) {
        error = folder + ": no acoustic model (a folder with mdef) found";
        return false;
    }
    if (dict.empty()) {
        error = folder + ": no pronunciation dictionary (*.dict) found";
        return false;
    }
    if (lm.empty()) {
        error = folder + ": no language model (*.lm.bin, *.lm, *.arpa) found";
        return false;
    }

    std::string language = lower(languageCode);
    if (language.empty()) language = lower(stem.substr(0, stem.find_first_of("-_")));
    if (language.empty() || language.size() > 8 ||
        !std::all_of(language.begin(), language.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); })) {
        language = "en";
    }

    gguf::Writer writer;
    writer.addString("general.architecture", kArchitecture);
    writer.addString("general.name", stem);
    writer.addString("pocketsphinx.language", language);
    writer.addU32("pocketsphinx.sample_rate", 16000);
    writer.addString("pocketsphinx.dictionary_file", dict.filename().string());
    writer.addString("pocketsphinx.language_model_file", lm.filename().string());

    std::vector<fs::path> hmmFiles;
    for (const auto& entry : fs::directory_iterator(hmm, ec)) {
        if (entry.is_regular_file(ec) && entry.path().filename() != "README") hmmFiles.push_back(entry.path());
    }
    std::sort(hmmFiles.begin(), hmmFiles.end());
    for (const auto& p : hmmFiles) {
        std::vector<std::uint8_t> bytes;
        if (!readFile(p, bytes, error)) return false;
        writer.addBytes(kHmmPrefix + p.filename().string(), std::move(bytes));
    }
    std::vector<std::uint8_t> bytes;
    if (!readFile(dict, bytes, error)) return false;
    writer.addBytes("dict", std::move(bytes));
    if (!readFile(lm, bytes, error)) return false;
    writer.addBytes("lm", std::move(bytes));
    return writer.write(outPath, error);
}

std::string language(const gguf::File& file) {
    const auto value = file.string("pocketsphinx.language");
    return value && !value->empty() ? lower(std::string(*value)) : "en";
}

std::unique_ptr<zarn::sphinx::StreamingDecoder> load(const gguf::File& file, std::string& error) {
    const gguf::Tensor* mdef = file.tensor("hmm/mdef");
    const gguf::Tensor* dict = file.tensor("dict");
    const gguf::Tensor* lm = file.tensor("lm");
    const std::string dictName(file.string("pocketsphinx.dictionary_file").value_or("model.dict"));
    const std::string lmName(file.string("pocketsphinx.language_model_file").value_or("model.lm.bin"));
    if (!mdef || !dict || !lm) {
        error = "model lacks the acoustic model, dictionary or language model";
        return nullptr;
    }
    if (!safeFileName(dictName) || !safeFileName(lmName) || dictName == lmName) {
        error = "model names an invalid file";
        return nullptr;
    }
    const auto rate = file.unsignedValue("pocketsphinx.sample_rate").value_or(16000);

    // The decoder reads its model by file name, so the pieces are written to a private
    // temporary folder for the time of loading.
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "transcribe-XXXXXX").string();
    if (ec || !::mkdtemp(pattern.data())) {
        error = "cannot create a temporary folder";
        return nullptr;
    }
    TempFolder temp{pattern};
    const fs::path hmmDir = temp.path / "hmm";
    fs::create_directory(hmmDir, ec);
    for (const auto& tensor : file.tensors) {
        if (tensor.name.substr(0, 4) != kHmmPrefix) continue;
        const std::string_view name = tensor.name.substr(4);
        if (!safeFileName(name) || tensor.type != gguf::kTensorTypeI8 || !tensor.data) {
            error = "invalid acoustic model piece " + std::string(tensor.name);
            return nullptr;
        }
        if (!writeFile(hmmDir / std::string(name), tensor.data, *tensor.byteSize)) {
            error = "cannot write temporary model files";
            return nullptr;
        }
    }
    for (const auto& [tensor, name] : {std::pair{dict, dictName}, std::pair{lm, lmName}}) {
        if (tensor->type != gguf::kTensorTypeI8 || !tensor->data) {
            error = "invalid model piece " + std::string(tensor->name);
            return nullptr;
        }
        if (!writeFile(temp.path / name, tensor->data, *tensor->byteSize)) {
            error = "cannot write temporary model files";
            return nullptr;
        }
    }
    zarn::sphinx::DecoderConfig config;
    config.acousticModelDir = hmmDir.string();
    config.dictionaryPath = (temp.path / dictName).string();
    config.languageModelPath = (temp.path / lmName).string();
    config.sampleRate = static_cast<float>(rate);
    return zarn::sphinx::StreamingDecoder::open(config, error);
}

}  // namespace transcribe::sphinx
