#include "Gguf.h"
#include "SphinxModel.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <cstring>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace transcribe::gguf {
namespace {

using zarn::test::TempDir;

// Builds GGUF bytes by hand, so that tests can damage any field.
class Bytes {
public:
    template <class T>
    Bytes& put(T v) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
        data.insert(data.end(), p, p + sizeof v);
        return *this;
    }
    Bytes& str(const std::string& s) {
        put<std::uint64_t>(s.size());
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& header(std::uint64_t tensors, std::uint64_t kvs, std::uint32_t version = 3) {
        return put<std::uint32_t>(0x46554747).put<std::uint32_t>(version).put(tensors).put(kvs);
    }
    Bytes& pad(std::size_t alignment = 32) {
        while (data.size() % alignment) data.push_back(0);
        return *this;
    }
    std::optional<File> parse(std::string& error) const { return gguf::parse(data.data(), data.size(), error); }
    std::vector<std::uint8_t> data;
};

std::vector<std::uint8_t> readAll(const std::string& path) {
    const std::string s = zarn::test::readFile(path);
    return {s.begin(), s.end()};
}

TEST(Gguf, WriterOutputParsesBackWithMetadataAndAlignedTensors) {
    TempDir dir;
    Writer writer;
    writer.addString("general.architecture", "test");
    writer.addU32("test.rate", 16000);
    writer.addStringArray("test.list", {"a", "bc"});
    writer.addBytes("first", {1, 2, 3});
    writer.addBytes("second", std::vector<std::uint8_t>(100, 7));
    std::string error;
    ASSERT_TRUE(writer.write((dir / "m.gguf").string(), error)) << error;

    const auto bytes = readAll((dir / "m.gguf").string());
    const auto file = parse(bytes.data(), bytes.size(), error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->version, 3u);
    EXPECT_EQ(file->string("general.architecture"), "test");
    EXPECT_EQ(file->unsignedValue("test.rate"), 16000u);
    ASSERT_NE(file->find("test.list"), nullptr);
    EXPECT_EQ(file->find("test.list")->strings, (std::vector<std::string_view>{"a", "bc"}));
    const Tensor* second = file->tensor("second");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->byteSize, 100u);
    EXPECT_EQ((second->data - bytes.data()) % 32, 0);
    EXPECT_EQ(second->data[99], 7);
    EXPECT_EQ(file->tensor("first")->data[2], 3);

    // Every truncation before the end of the last tensor is refused, never read past.
    const auto dataEnd = static_cast<std::size_t>(second->data - bytes.data()) + 100;
    for (std::size_t cut = 0; cut < dataEnd; ++cut) {
        std::vector<std::uint8_t> copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_FALSE(parse(copy.data(), copy.size(), error)) << "cut at " << cut;
    }
}

Bytes& tensorInfo(Bytes& b, const std::string& name, std::vector<std::uint64_t> dims, std::uint32_t type,
                  std::uint64_t offset) {
    b.str(name).put<std::uint32_t>(static_cast<std::uint32_t>(dims.size()));
    for (auto d : dims) b.put(d);
    return b.put(type).put(offset);
}

Bytes u32Key(const std::string& key, std::uint32_t value, std::uint64_t tensors = 0) {
    Bytes b;
    b.header(tensors, 1).str(key).put<std::uint32_t>(4).put<std::uint32_t>(value);
    return b;
}

TEST(Gguf, DamagedFilesAreRefusedWithAReason) {
    const auto oneTensor = [](std::vector<std::uint64_t> dims, std::uint32_t type, std::uint64_t offset) {
        Bytes b;
        b.header(1, 0);
        return tensorInfo(b, "t", std::move(dims), type, offset).pad();
    };
    Bytes nested;
    nested.header(0, 1).str("a").put<std::uint32_t>(9);  // an array of one array of one array ...
    for (int i = 0; i < 10; ++i) nested.put<std::uint32_t>(9).put<std::uint64_t>(1);
    Bytes shortData = oneTensor({8}, kTensorTypeI8, 0);
    shortData.data.resize(shortData.data.size() + 7);  // one byte short of the tensor
    Bytes twoTensors;
    tensorInfo(tensorInfo(twoTensors.header(2, 0), "t", {1}, kTensorTypeI8, 0), "t", {1}, kTensorTypeI8, 32);

    const struct {
        Bytes bytes;
        std::string error;
    } cases[] = {
        {Bytes().put<std::uint32_t>(0x12345678).put<std::uint32_t>(3), "not a GGUF file"},
        {Bytes().header(0, 0, 1), "unsupported GGUF version 1"},
        {Bytes().header(0, ~0ull), "file is truncated"},  // counts beyond what the bytes could hold
        {Bytes().header(~0ull, 0), "file is truncated"},
        {Bytes().header(0, 1).put<std::uint64_t>(1ull << 62), "file is truncated"},  // string longer than the file
        {Bytes().header(0, 1).str("").put<std::uint32_t>(4).put<std::uint32_t>(1), "empty metadata key"},
        {Bytes().header(0, 1).str("k").put<std::uint32_t>(13).put<std::uint32_t>(0), "unknown metadata type 13"},
        {Bytes().header(0, 2).str("k").put<std::uint32_t>(4).put<std::uint32_t>(1).str("k").put<std::uint32_t>(4).put<std::uint32_t>(1),
         "duplicate metadata key k"},
        {Bytes().header(0, 1).str("b").put<std::uint32_t>(7).put<std::uint8_t>(2), "invalid boolean value"},
        {Bytes().header(0, 1).str("a").put<std::uint32_t>(9).put<std::uint32_t>(6).put<std::uint64_t>(1ull << 61),
         "file is truncated"},  // more array elements than bytes
        {Bytes().header(0, 1).str("a").put<std::uint32_t>(9).put<std::uint32_t>(13).put<std::uint64_t>(0),
         "unknown array element type 13"},
        {nested, "arrays nested too deeply"},
        {u32Key("general.alignment", 24), "invalid alignment"},
        {u32Key("general.alignment", 0), "invalid alignment"},
        {u32Key("general.alignment", 2u << 20), "invalid alignment"},
        {shortData, "tensor t lies outside the file"},
        {oneTensor({1}, kTensorTypeI8, 3).put<std::uint64_t>(0), "misaligned tensor t"},
        {oneTensor({1ull << 40, 1ull << 40}, 0, 0), "tensor t is too large"},
        {oneTensor({1, 1, 1, 1, 1}, 0, 0), "invalid dimension count for tensor t"},
        {oneTensor({31}, 8, 0), "tensor t does not fill its blocks"},  // Q8_0 packs 32 elements per block
        {twoTensors, "duplicate tensor t"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(c.bytes.parse(error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(Gguf, TensorsOfKnownTypesPointIntoTheDataAndUnknownOnesAreKept) {
    std::string error;
    Bytes ok;
    tensorInfo(ok.header(1, 0), "t", {8}, kTensorTypeI8, 0).pad();
    for (int i = 0; i < 8; ++i) ok.put<std::uint8_t>(static_cast<std::uint8_t>(i));
    auto file = ok.parse(error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->tensor("t")->data[7], 7);

    Bytes unknownType;  // kept, without data, so that the architecture can still be read
    unknownType.header(1, 1).str("general.architecture").put<std::uint32_t>(8).str("future");
    tensorInfo(unknownType, "x", {4}, 999, 0).pad();
    file = unknownType.parse(error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->string("general.architecture"), "future");
    EXPECT_FALSE(file->tensor("x")->byteSize.has_value());
    EXPECT_EQ(file->tensor("x")->data, nullptr);
}

TEST(SphinxModel, PieceNamesThatLeaveTheFolderAreRefused) {
    TempDir dir;
    const struct {
        const char* dictionaryFile;
        const char* extraPiece;
        std::string error;
    } cases[] = {
        {"../escape.dict", "hmm/feat.params", "model names an invalid file"},
        {"x.dict", "hmm/../../evil", "invalid acoustic model piece hmm/../../evil"},
    };
    for (const auto& c : cases) {
        Writer writer;
        writer.addString("general.architecture", "pocketsphinx");
        writer.addString("pocketsphinx.dictionary_file", c.dictionaryFile);
        writer.addString("pocketsphinx.language_model_file", "x.lm.bin");
        for (const char* piece : {"hmm/mdef", c.extraPiece, "dict", "lm"}) writer.addBytes(piece, {1});
        std::string error;
        ASSERT_TRUE(writer.write((dir / "bad.gguf").string(), error));
        const auto bytes = readAll((dir / "bad.gguf").string());
        const auto file = parse(bytes.data(), bytes.size(), error);
        ASSERT_TRUE(file);
        EXPECT_EQ(sphinx::load(*file, error), nullptr);
        EXPECT_EQ(error, c.error);
    }
}

TEST(SphinxModel, PackingNeedsAllThreePieces) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(sphinx::pack((dir / "missing").string(), (dir / "o.gguf").string(), "", error));
    EXPECT_NE(error.find("not a folder"), std::string::npos);
    std::filesystem::create_directories(dir / "model" / "am");
    zarn::test::writeFile(dir / "model" / "am" / "mdef", "x");
    EXPECT_FALSE(sphinx::pack((dir / "model").string(), (dir / "o.gguf").string(), "", error));
    EXPECT_NE(error.find("dictionary"), std::string::npos);
    zarn::test::writeFile(dir / "model" / "words.dict", "a AH\n");
    EXPECT_FALSE(sphinx::pack((dir / "model").string(), (dir / "o.gguf").string(), "", error));
    EXPECT_NE(error.find("language model"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "o.gguf"));
}

// A write that fails part-way (here: over the file size limit) leaves the earlier file as it
// was and no temporary file beside it.
TEST(Gguf, AFailedWriteKeepsTheEarlierFile) {
    TempDir dir;
    zarn::test::writeFile(dir / "out.gguf", "earlier");
    Writer writer;
    writer.addBytes("big", std::vector<std::uint8_t>(64 * 1024, 7));
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::string error;
    const bool written = writer.write((dir / "out.gguf").string(), error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(zarn::test::readFile(dir / "out.gguf"), "earlier");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

}  // namespace
}  // namespace transcribe::gguf
