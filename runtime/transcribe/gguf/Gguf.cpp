#include "Gguf.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <set>

namespace transcribe::gguf {

namespace {

constexpr std::uint32_t kMagic = 0x46554747;  // "GGUF" read as little-endian
constexpr std::uint32_t kMaxDims = 4;
constexpr int kMaxArrayDepth = 4;
constexpr std::uint64_t kMaxAlignment = 1u << 20;
// Counts in the header are only believed as far as the bytes go; memory is reserved for
// at most this many entries up front, the rest grows as entries are actually read.
constexpr std::uint64_t kMaxReserve = 4096;
// String array elements collected per value (larger vocabularies are skipped over).
constexpr std::uint64_t kMaxCollectedStrings = 1u << 20;

// Block size (elements) and bytes per block of the ggml tensor types this reader knows.
struct TypeInfo {
    std::uint32_t blockSize;
    std::uint32_t blockBytes;
};
std::optional<TypeInfo> tensorTypeInfo(std::uint32_t type) {
    switch (type) {
        case 0: return TypeInfo{1, 4};      // F32
        case 1: return TypeInfo{1, 2};      // F16
        case 2: return TypeInfo{32, 18};    // Q4_0
        case 3: return TypeInfo{32, 20};    // Q4_1
        case 6: return TypeInfo{32, 22};    // Q5_0
        case 7: return TypeInfo{32, 24};    // Q5_1
        case 8: return TypeInfo{32, 34};    // Q8_0
        case 9: return TypeInfo{32, 36};    // Q8_1
        case 10: return TypeInfo{256, 84};  // Q2_K
        case 11: return TypeInfo{256, 110}; // Q3_K
        case 12: return TypeInfo{256, 144}; // Q4_K
        case 13: return TypeInfo{256, 176}; // Q5_K
        case 14: return TypeInfo{256, 210}; // Q6_K
        case 15: return TypeInfo{256, 292}; // Q8_K
        case 24: return TypeInfo{1, 1};     // I8
        case 25: return TypeInfo{1, 2};     // I16
        case 26: return TypeInfo{1, 4};     // I32
        case 27: return TypeInfo{1, 8};     // I64
        case 28: return TypeInfo{1, 8};     // F64
        case 30: return TypeInfo{1, 2};     // BF16
        default: return std::nullopt;
    }
}

// A bounds-checked little-endian cursor over the input.
class Cursor {
public:
    Cursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }

    template <class T>
    bool read(T& out) {
        if (remaining() < sizeof(T)) return false;
        std::memcpy(&out, data_ + pos_, sizeof(T));
        pos_ += sizeof(T);
        return true;
    }
    bool skip(std::uint64_t n) {
        if (remaining() < n) return false;
        pos_ += static_cast<std::size_t>(n);
        return true;
    }
    bool readString(std::string_view& out) {
        std::uint64_t length = 0;
        if (!read(length) || remaining() < length) return false;
        out = std::string_view(reinterpret_cast<const char*>(data_ + pos_), static_cast<std::size_t>(length));
        pos_ += static_cast<std::size_t>(length);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

std::size_t scalarSize(ValueType type) {
    switch (type) {
        case ValueType::U8: case ValueType::I8: case ValueType::Bool: return 1;
        case ValueType::U16: case ValueType::I16: return 2;
        case ValueType::U32: case ValueType::I32: case ValueType::F32: return 4;
        case ValueType::U64: case ValueType::I64: case ValueType::F64: return 8;
        default: return 0;
    }
}

bool readValue(Cursor& cursor, ValueType type, Value& out, int depth, std::string& error) {
    out.type = type;
    switch (type) {
        case ValueType::U8: { std::uint8_t v; if (!cursor.read(v)) break; out.u = v; return true; }
        case ValueType::I8: { std::int8_t v; if (!cursor.read(v)) break; out.i = v; return true; }
        case ValueType::U16: { std::uint16_t v; if (!cursor.read(v)) break; out.u = v; return true; }
        case ValueType::I16: { std::int16_t v; if (!cursor.read(v)) break; out.i = v; return true; }
        case ValueType::U32: { std::uint32_t v; if (!cursor.read(v)) break; out.u = v; return true; }
        case ValueType::I32: { std::int32_t v; if (!cursor.read(v)) break; out.i = v; return true; }
        case ValueType::U64: { std::uint64_t v; if (!cursor.read(v)) break; out.u = v; return true; }
        case ValueType::I64: { std::int64_t v; if (!cursor.read(v)) break; out.i = v; return true; }
        case ValueType::F32: { float v; if (!cursor.read(v)) break; out.f = v; return true; }
        case ValueType::F64: { double v; if (!cursor.read(v)) break; out.f = v; return true; }
        case ValueType::Bool: {
            std::uint8_t v;
            if (!cursor.read(v)) break;
            if (v > 1) {
                error = "invalid boolean value";
                return false;
            }
            out.u = v;
            return true;
        }
        case ValueType::String:
            if (!cursor.readString(out.str)) break;
            return true;
        case ValueType::Array: {
            if (depth >= kMaxArrayDepth) {
                error = "arrays nested too deeply";
                return false;
            }
            std::uint32_t elementType = 0;
            if (!cursor.read(elementType) || !cursor.read(out.count)) break;
            if (elementType > static_cast<std::uint32_t>(ValueType::F64)) {
                error = "unknown array element type " + std::to_string(elementType);
                return false;
            }
            out.elementType = static_cast<ValueType>(elementType);
            if (const std::size_t size = scalarSize(out.elementType); size > 0) {
                if (out.count > cursor.remaining() / size || !cursor.skip(out.count * size)) break;
                return true;
            }
            // Strings and nested arrays take at least 8 bytes per element.
            if (out.count > cursor.remaining() / 8) break;
            for (std::uint64_t n = 0; n < out.count; ++n) {
                Value element;
                if (!readValue(cursor, out.elementType, element, depth + 1, error)) return false;
                if (out.elementType == ValueType::String && n < kMaxCollectedStrings) out.strings.push_back(element.str);
            }
            return true;
        }
    }
    if (error.empty()) error = "file is truncated";
    return false;
}

}  // namespace

const Value* File::find(std::string_view key) const {
    for (const auto& [k, v] : metadata) {
        if (k == key) return &v;
    }
    return nullptr;
}

std::optional<std::string_view> File::string(std::string_view key) const {
    const Value* v = find(key);
    if (!v || v->type != ValueType::String) return std::nullopt;
    return v->str;
}

std::optional<std::uint64_t> File::unsignedValue(std::string_view key) const {
    const Value* v = find(key);
    if (!v) return std::nullopt;
    switch (v->type) {
        case ValueType::U8: case ValueType::U16: case ValueType::U32: case ValueType::U64: return v->u;
        default: return std::nullopt;
    }
}

const Tensor* File::tensor(std::string_view name) const {
    for (const auto& t : tensors) {
        if (t.name == name) return &t;
    }
    return nullptr;
}

namespace {

// The reader's stages, in file order; each fails with a reason in `error`.
class Parser {
public:
    Parser(const std::uint8_t* data, std::size_t size, std::string& error)
        : data_(data), size_(size), cursor_(data, size), error_(error) {}

    std::optional<File> run() {
        if (!data_ && size_ > 0) return failed("no data");
        if (!header() || !metadata() || !alignment() || !tensorInfos() || !tensorData()) return std::nullopt;
        return std::move(file_);
    }

private:
    std::nullopt_t failed(std::string reason) {
        error_ = std::move(reason);
        return std::nullopt;
    }
    bool fail(std::string reason) {
        error_ = std::move(reason);
        return false;
    }
    bool truncated() { return fail("file is truncated"); }

    // Magic, version and the two counts.
    bool header() {
        std::uint32_t magic = 0;
        if (!cursor_.read(magic) || magic != kMagic) return fail("not a GGUF file");
        if (!cursor_.read(file_.version)) return truncated();
        if (file_.version != 2 && file_.version != 3) return fail("unsupported GGUF version " + std::to_string(file_.version));
        if (!cursor_.read(tensorCount_) || !cursor_.read(kvCount_)) return truncated();
        // Every key-value takes at least 12 bytes and every tensor info at least 24, so larger
        // counts cannot be honest; refusing them also bounds the memory reserved below.
        if (kvCount_ > cursor_.remaining() / 12 || tensorCount_ > cursor_.remaining() / 24) return truncated();
        return true;
    }

    bool metadata() {
        std::set<std::string_view> keys;
        file_.metadata.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(kvCount_, kMaxReserve)));
        for (std::uint64_t n = 0; n < kvCount_; ++n) {
            std::string_view key;
            std::uint32_t type = 0;
            if (!cursor_.readString(key) || !cursor_.read(type)) return truncated();
            if (key.empty()) return fail("empty metadata key");
            if (!keys.insert(key).second) return fail("duplicate metadata key " + std::string(key));
            if (type > static_cast<std::uint32_t>(ValueType::F64)) return fail("unknown metadata type " + std::to_string(type));
            Value value;
            if (!readValue(cursor_, static_cast<ValueType>(type), value, 0, error_)) return false;
            file_.metadata.emplace_back(key, std::move(value));
        }
        return true;
    }

    // general.alignment, when given: a power of two up to kMaxAlignment.
    bool alignment() {
        const Value* align = file_.find("general.alignment");
        if (!align) return true;
        if (align->type != ValueType::U32 || align->u == 0 || (align->u & (align->u - 1)) != 0 || align->u > kMaxAlignment) {
            return fail("invalid alignment");
        }
        file_.alignment = align->u;
        return true;
    }

    bool tensorInfos() {
        std::set<std::string_view> names;
        file_.tensors.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(tensorCount_, kMaxReserve)));
        for (std::uint64_t n = 0; n < tensorCount_; ++n) {
            Tensor tensor;
            if (!tensorInfo(tensor, names)) return false;
            file_.tensors.push_back(std::move(tensor));
        }
        return true;
    }

    bool tensorInfo(Tensor& tensor, std::set<std::string_view>& names) {
        std::uint32_t dimCount = 0;
        if (!cursor_.readString(tensor.name) || !cursor_.read(dimCount)) return truncated();
        const std::string name(tensor.name);
        if (name.empty()) return fail("empty tensor name");
        if (!names.insert(tensor.name).second) return fail("duplicate tensor " + name);
        if (dimCount == 0 || dimCount > kMaxDims) return fail("invalid dimension count for tensor " + name);
        std::uint64_t elements = 1;
        bool overflow = false;
        for (std::uint32_t d = 0; d < dimCount; ++d) {
            std::uint64_t dim = 0;
            if (!cursor_.read(dim)) return truncated();
            tensor.dims.push_back(dim);
            overflow = overflow || __builtin_mul_overflow(elements, dim, &elements);
        }
        if (!cursor_.read(tensor.type) || !cursor_.read(tensor.offset)) return truncated();
        if (overflow) return fail("tensor " + name + " is too large");
        if (tensor.offset % file_.alignment != 0) return fail("misaligned tensor " + name);
        const auto info = tensorTypeInfo(tensor.type);
        if (!info) return true;  // kept without a size, so the architecture can still be read
        if (elements % info->blockSize != 0) return fail("tensor " + name + " does not fill its blocks");
        std::uint64_t bytes = 0;
        if (__builtin_mul_overflow(elements / info->blockSize, info->blockBytes, &bytes)) {
            return fail("tensor " + name + " is too large");
        }
        tensor.byteSize = bytes;
        return true;
    }

    // The data section starts at the next multiple of the alignment; every sized tensor must
    // lie inside the file.
    bool tensorData() {
        const std::uint64_t headerEnd = cursor_.position();
        file_.dataOffset = headerEnd + (file_.alignment - headerEnd % file_.alignment) % file_.alignment;
        if (tensorCount_ > 0 && file_.dataOffset > size_) return truncated();
        for (auto& tensor : file_.tensors) {
            if (!tensor.byteSize) continue;
            std::uint64_t start = 0, end = 0;
            if (__builtin_add_overflow(file_.dataOffset, tensor.offset, &start) ||
                __builtin_add_overflow(start, *tensor.byteSize, &end) || end > size_) {
                return fail("tensor " + std::string(tensor.name) + " lies outside the file");
            }
            tensor.data = data_ + start;
        }
        return true;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    Cursor cursor_;
    std::string& error_;
    File file_;
    std::uint64_t tensorCount_ = 0, kvCount_ = 0;
};

}  // namespace

std::optional<File> parse(const std::uint8_t* data, std::size_t size, std::string& error) {
    error.clear();
    return Parser(data, size, error).run();
}

std::optional<MappedFile> MappedFile::open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file";
        ::close(fd);
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size == 0) {
        ::close(fd);
        return MappedFile(nullptr, 0);
    }
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    const int mapErrno = errno;
    ::close(fd);
    if (map == MAP_FAILED) {
        error = std::strerror(mapErrno);
        return std::nullopt;
    }
    return MappedFile(static_cast<const std::uint8_t*>(map), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

void Writer::addString(std::string key, std::string value) {
    metadata_.push_back({std::move(key), ValueType::String, std::move(value), 0, {}});
}

void Writer::addU32(std::string key, std::uint32_t value) {
    metadata_.push_back({std::move(key), ValueType::U32, {}, value, {}});
}

void Writer::addStringArray(std::string key, std::vector<std::string> values) {
    metadata_.push_back({std::move(key), ValueType::Array, {}, 0, std::move(values)});
}

void Writer::addBytes(std::string name, std::vector<std::uint8_t> bytes) {
    tensors_.emplace_back(std::move(name), std::move(bytes));
}

namespace {

class Out {
public:
    explicit Out(std::FILE* f) : f_(f) {}
    template <class T>
    void put(T value) { bytes(&value, sizeof value); }
    void string(const std::string& s) {
        put<std::uint64_t>(s.size());
        bytes(s.data(), s.size());
    }
    void bytes(const void* p, std::size_t n) {
        if (ok_ && n > 0 && std::fwrite(p, 1, n, f_) != n) ok_ = false;
        written_ += n;
    }
    void pad(std::uint64_t alignment) {
        static const char zeros[64] = {};
        std::uint64_t n = (alignment - written_ % alignment) % alignment;
        while (n > 0) {
            const std::size_t step = n > sizeof zeros ? sizeof zeros : static_cast<std::size_t>(n);
            bytes(zeros, step);
            n -= step;
        }
    }
    bool ok() const { return ok_; }

private:
    std::FILE* f_;
    bool ok_ = true;
    std::uint64_t written_ = 0;
};

}  // namespace

bool Writer::write(const std::string& path, std::string& error) const {
    // A link is written through, so the file it names is the one replaced.
    std::string target = path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) target = resolved;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    // The new file is written beside the old one and renamed over it, so a failed write
    // leaves the old one as it was and nothing but the temporary file is ever removed.
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    Out out(f);
    out.put<std::uint32_t>(kMagic);
    out.put<std::uint32_t>(3);
    out.put<std::uint64_t>(tensors_.size());
    out.put<std::uint64_t>(metadata_.size() + 1);
    out.string("general.alignment");
    out.put<std::uint32_t>(static_cast<std::uint32_t>(ValueType::U32));
    out.put<std::uint32_t>(static_cast<std::uint32_t>(kDefaultAlignment));
    for (const auto& e : metadata_) {
        out.string(e.key);
        out.put<std::uint32_t>(static_cast<std::uint32_t>(e.type));
        if (e.type == ValueType::String) {
            out.string(e.str);
        } else if (e.type == ValueType::U32) {
            out.put<std::uint32_t>(e.u32);
        } else {
            out.put<std::uint32_t>(static_cast<std::uint32_t>(ValueType::String));
            out.put<std::uint64_t>(e.strings.size());
            for (const auto& s : e.strings) out.string(s);
        }
    }
    std::uint64_t offset = 0;
    for (const auto& [name, bytes] : tensors_) {
        out.string(name);
        out.put<std::uint32_t>(1);
        out.put<std::uint64_t>(bytes.size());
        out.put<std::uint32_t>(kTensorTypeI8);
        out.put<std::uint64_t>(offset);
        offset += bytes.size();
        offset += (kDefaultAlignment - offset % kDefaultAlignment) % kDefaultAlignment;
    }
    out.pad(kDefaultAlignment);
    for (const auto& [name, bytes] : tensors_) {
        out.bytes(bytes.data(), bytes.size());
        out.pad(kDefaultAlignment);
    }
    const bool flushed = std::fflush(f) == 0 && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    const bool closed = std::fclose(f) == 0;
    if (!out.ok() || !flushed || !closed || ::rename(temp.c_str(), target.c_str()) != 0) {
        error = path + ": write failed";
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace transcribe::gguf
