#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Reading and writing GGUF model containers (versions 2 and 3: magic, version, metadata
// key-values, tensor infos, aligned tensor data). The reader trusts nothing in the bytes.
namespace transcribe::gguf {

enum class ValueType : std::uint32_t {
    U8 = 0, I8 = 1, U16 = 2, I16 = 3, U32 = 4, I32 = 5, F32 = 6, Bool = 7,
    String = 8, Array = 9, U64 = 10, I64 = 11, F64 = 12,
};

constexpr std::uint32_t kTensorTypeI8 = 24;  // plain bytes
constexpr std::uint64_t kDefaultAlignment = 32;

struct Value {
    ValueType type = ValueType::U8;
    std::uint64_t u = 0;  // unsigned integers and booleans
    std::int64_t i = 0;   // signed integers
    double f = 0;         // floating point
    std::string_view str;
    // Arrays: element type and count; string elements are collected, others are skipped.
    ValueType elementType = ValueType::U8;
    std::uint64_t count = 0;
    std::vector<std::string_view> strings;
};

struct Tensor {
    std::string_view name;
    std::vector<std::uint64_t> dims;
    std::uint32_t type = 0;
    std::uint64_t offset = 0;  // from the start of the data section
    std::optional<std::uint64_t> byteSize;  // absent for tensor types this reader does not know
    const std::uint8_t* data = nullptr;     // set when the size is known (and then in bounds)
};

// A parsed file; its views point into the bytes given to parse(), which must outlive it.
struct File {
    std::uint32_t version = 0;
    std::uint64_t alignment = kDefaultAlignment;
    std::uint64_t dataOffset = 0;
    std::vector<std::pair<std::string_view, Value>> metadata;
    std::vector<Tensor> tensors;

    const Value* find(std::string_view key) const;
    std::optional<std::string_view> string(std::string_view key) const;
    std::optional<std::uint64_t> unsignedValue(std::string_view key) const;
    const Tensor* tensor(std::string_view name) const;
};

// Parses the bytes; nullopt and a reason in `error` for anything malformed or truncated.
std::optional<File> parse(const std::uint8_t* data, std::size_t size, std::string& error);

// A read-only view of a whole file (memory-mapped).
class MappedFile {
public:
    static std::optional<MappedFile> open(const std::string& path, std::string& error);
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&&) = delete;
    ~MappedFile();
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    MappedFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Builds a file of string/u32 metadata and byte tensors, written in one go.
class Writer {
public:
    void addString(std::string key, std::string value);
    void addU32(std::string key, std::uint32_t value);
    void addStringArray(std::string key, std::vector<std::string> values);
    void addBytes(std::string name, std::vector<std::uint8_t> bytes);
    // Writes the file (mode 0644) through a temporary file beside it, renamed into place;
    // false and a reason on failure, with any earlier file left as it was.
    bool write(const std::string& path, std::string& error) const;

private:
    struct Entry {
        std::string key;
        ValueType type;
        std::string str;
        std::uint32_t u32 = 0;
        std::vector<std::string> strings;
    };
    std::vector<Entry> metadata_;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> tensors_;
};

}  // namespace transcribe::gguf
