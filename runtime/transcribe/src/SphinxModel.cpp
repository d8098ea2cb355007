#include "SphinxModel.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
constexpr const char* kDigestPrefix = "pocketsphinx.sha256.";
constexpr const char* kMetadataPiece = "metadata";

// A file name taken from the model file must stay inside the folder it is written to.
bool safeFileName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\' || c == '\0'; });
}

// Reads one file of the source folder: it must lie inside the folder, links resolved, and be
// a regular file (a FIFO or a device would block or never end).
bool readSource(const fs::path& root, const fs::path& path, std::vector<std::uint8_t>& out, std::string& error) {
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (ec || std::mismatch(root.begin(), root.end(), real.begin(), real.end()).first != root.end()) {
        error = path.string() + ": leads outside the model folder";
        return false;
    }
    const int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) > kMaxFileBytes) {
        error = path.string() + (fd < 0 ? ": " + std::string(std::strerror(errno)) : ": not a regular file of a usable size");
        if (fd >= 0) ::close(fd);
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (done != out.size()) {
        error = path.string() + ": cannot read";
        return false;
    }
    return true;
}

std::string sha256Hex(const std::uint8_t* data, std::size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) != 1) return {};
    std::string hex;
    char piece[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(piece, sizeof piece, "%02x", digest[i]);
        hex += piece;
    }
    return hex;
}

// The metadata the loader acts on, as one text, so that it has a digest like the pieces.
std::string metadataText(std::string_view language, std::string_view dict, std::string_view lm, std::string rate) {
    return std::string(language) + "\n" + std::string(dict) + "\n" + std::string(lm) + "\n" + rate;
}

std::string metadataText(const gguf::File& file) {
    const auto rate = file.unsignedValue("pocketsphinx.sample_rate");
    return metadataText(file.string("pocketsphinx.language").value_or("-"),
                        file.string("pocketsphinx.dictionary_file").value_or("-"),
                        file.string("pocketsphinx.language_model_file").value_or("-"), rate ? std::to_string(*rate) : "-");
}

// Every piece must match the SHA-256 recorded for it when the model was packed, so that the
// decoder, which trusts its files, never sees a damaged byte.
bool verify(const gguf::File& file, std::string& error) {
    if (!std::any_of(file.metadata.begin(), file.metadata.end(),
                     [](const auto& kv) { return kv.first.starts_with(kDigestPrefix); })) {
        error = "the model file carries no checksums (it was made by an earlier version); "
                "download it again with “zarn model download” or pack it again with “zarn model pack”";
        return false;
    }
    const auto check = [&](std::string_view piece, std::string actual) {
        const auto expected = file.string(std::string(kDigestPrefix) + std::string(piece));
        if (expected && !actual.empty() && *expected == actual) return true;
        error = "model piece " + std::string(piece) + " is damaged (" +
                (expected ? "its checksum does not match" : "it has no checksum") + ")";
        return false;
    };
    for (const auto& tensor : file.tensors) {
        if (tensor.type != gguf::kTensorTypeI8 || !tensor.data || !tensor.byteSize) {
            error = "model piece " + std::string(tensor.name) + " is damaged (not a byte array within the file)";
            return false;
        }
        if (!check(tensor.name, sha256Hex(tensor.data, static_cast<std::size_t>(*tensor.byteSize)))) return false;
    }
    const std::string meta = metadataText(file);
    return check(kMetadataPiece, sha256Hex(reinterpret_cast<const std::uint8_t*>(meta.data()), meta.size()));
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
    const fs::path root = fs::canonical(folder, ec);
    if (ec || !fs::is_directory(root, ec)) {
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

    std::vector<std::pair<std::string, fs::path>> pieces;
    for (const auto& entry : fs::directory_iterator(hmm, ec)) {
        if (entry.is_regular_file(ec) && entry.path().filename() != "README") {
            pieces.emplace_back(kHmmPrefix + entry.path().filename().string(), entry.path());
        }
    }
    std::sort(pieces.begin(), pieces.end());
    pieces.emplace_back("dict", dict);
    pieces.emplace_back("lm", lm);
    // The output must not be one of the files it is made from.
    for (const auto& [name, path] : pieces) {
        if (fs::equivalent(path, outPath, ec)) {
            error = outPath + ": is one of the model's own files";
            return false;
        }
    }

    gguf::Writer writer;
    writer.addString("general.architecture", kArchitecture);
    writer.addString("general.name", stem);
    writer.addString("pocketsphinx.language", language);
    writer.addU32("pocketsphinx.sample_rate", 16000);
    writer.addString("pocketsphinx.dictionary_file", dict.filename().string());
    writer.addString("pocketsphinx.language_model_file", lm.filename().string());
    const std::string meta = metadataText(language, dict.filename().string(), lm.filename().string(), "16000");
    writer.addString(kDigestPrefix + std::string(kMetadataPiece),
                     sha256Hex(reinterpret_cast<const std::uint8_t*>(meta.data()), meta.size()));
    for (const auto& [name, path] : pieces) {
        std::vector<std::uint8_t> bytes;
        if (!readSource(root, path, bytes, error)) return false;
        writer.addString(kDigestPrefix + name, sha256Hex(bytes.data(), bytes.size()));
        writer.addBytes(name, std::move(bytes));
    }
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
    for (const auto& tensor : file.tensors) {
        if (tensor.name.starts_with(kHmmPrefix) && !safeFileName(tensor.name.substr(4))) {
            error = "invalid acoustic model piece " + std::string(tensor.name);
            return nullptr;
        }
    }
    if (!verify(file, error)) return nullptr;
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
        if (!writeFile(hmmDir / std::string(name), tensor.data, *tensor.byteSize)) {
            error = "cannot write temporary model files";
            return nullptr;
        }
    }
    // Every piece is a byte array within the file now (checked with the digests).
    for (const auto& [tensor, name] : {std::pair{dict, dictName}, std::pair{lm, lmName}}) {
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
