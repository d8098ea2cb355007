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

TEST(Gguf, DamagedHeadersAreRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(Bytes().put<std::uint32_t>(0x12345678).put<std::uint32_t>(3).parse(error));
    EXPECT_EQ(error, "not a GGUF file");
    EXPECT_FALSE(Bytes().header(0, 0, 1).parse(error));
    EXPECT_EQ(error, "unsupported GGUF version 1");
    // Counts far beyond what the bytes could hold.
    EXPECT_FALSE(Bytes().header(0, ~0ull).parse(error));
    EXPECT_FALSE(Bytes().header(~0ull, 0).parse(error));
    // A string longer than the file.
    EXPECT_FALSE(Bytes().header(0, 1).put<std::uint64_t>(1ull << 62).parse(error));
    // An unknown value type, a duplicate key, a bad boolean.
    EXPECT_FALSE(Bytes().header(0, 1).str("k").put<std::uint32_t>(13).put<std::uint32_t>(0).parse(error));
    EXPECT_FALSE(Bytes().header(0, 2).str("k").put<std::uint32_t>(4).put<std::uint32_t>(1)
                     .str("k").put<std::uint32_t>(4).put<std::uint32_t>(1).parse(error));
    EXPECT_EQ(error, "duplicate metadata key k");
    EXPECT_FALSE(Bytes().header(0, 1).str("b").put<std::uint32_t>(7).put<std::uint8_t>(2).parse(error));
    // An array claiming more elements than there are bytes; arrays nested without end.
    EXPECT_FALSE(Bytes().header(0, 1).str("a").put<std::uint32_t>(9).put<std::uint32_t>(6)
                     .put<std::uint64_t>(1ull << 61).parse(error));
    Bytes nested;
    nested.header(0, 1).str("a");
    for (int i = 0; i < 10; ++i) nested.put<std::uint32_t>(9).put<std::uint32_t>(9).put<std::uint64_t>(1);
    EXPECT_FALSE(nested.parse(error));
    // Alignment must be a power of two.
    EXPECT_FALSE(Bytes().header(0, 1).str("general.alignment").put<std::uint32_t>(4).put<std::uint32_t>(24).parse(error));
    EXPECT_EQ(error, "invalid alignment");
    EXPECT_FALSE(Bytes().header(0, 1).str("general.alignment").put<std::uint32_t>(4).put<std::uint32_t>(0).parse(error));
}

TEST(Gguf, TensorInfosAreCheckedAgainstTheData) {
    std::string error;
    const auto tensor = [](Bytes& b, const std::string& name, std::vector<std::uint64_t> dims, std::uint32_t type,
                           std::uint64_t offset) {
        b.str(name).put<std::uint32_t>(static_cast<std::uint32_t>(dims.size()));
        for (auto d : dims) b.put(d);
        b.put(type).put(offset);
    };
    {
        Bytes ok;
        ok.header(1, 0);
        tensor(ok, "t", {8}, kTensorTypeI8, 0);
        ok.pad();
        for (int i = 0; i < 8; ++i) ok.put<std::uint8_t>(static_cast<std::uint8_t>(i));
        auto file = ok.parse(error);
        ASSERT_TRUE(file) << error;
        EXPECT_EQ(file->tensor("t")->data[7], 7);
        ok.data.pop_back();  // one byte short of the tensor
        EXPECT_FALSE(ok.parse(error));
        EXPECT_EQ(error, "tensor t lies outside the file");
    }
    Bytes misaligned;
    misaligned.header(1, 0);
    tensor(misaligned, "t", {1}, kTensorTypeI8, 3);
    misaligned.pad().put<std::uint64_t>(0);
    EXPECT_FALSE(misaligned.parse(error));
    EXPECT_EQ(error, "misaligned tensor t");

    Bytes overflow;
    overflow.header(1, 0);
    tensor(overflow, "t", {1ull << 40, 1ull << 40}, 0, 0);
    overflow.pad();
    EXPECT_FALSE(overflow.parse(error));
    EXPECT_EQ(error, "tensor t is too large");

    Bytes dims;
    dims.header(1, 0);
    tensor(dims, "t", {1, 1, 1, 1, 1}, 0, 0);
    EXPECT_FALSE(dims.parse(error));

    Bytes partialBlock;  // Q8_0 packs 32 elements per block
    partialBlock.header(1, 0);
    tensor(partialBlock, "q", {31}, 8, 0);
    partialBlock.pad();
    EXPECT_FALSE(partialBlock.parse(error));

    Bytes duplicate;
    duplicate.header(2, 0);
    tensor(duplicate, "t", {1}, kTensorTypeI8, 0);
    tensor(duplicate, "t", {1}, kTensorTypeI8, 32);
    EXPECT_FALSE(duplicate.parse(error));

    Bytes unknownType;  // kept, without data, so that the architecture can still be read
    unknownType.header(1, 1).str("general.architecture").put<std::uint32_t>(8).str("future");
    tensor(unknownType, "x", {4}, 999, 0);
    unknownType.pad();
    auto file = unknownType.parse(error);
    ASSERT_TRUE(file) << error;
    EXPECT_FALSE(file->tensor("x")->byteSize.has_value());
    EXPECT_EQ(file->tensor("x")->data, nullptr);
}

TEST(SphinxModel, PieceNamesThatLeaveTheFolderAreRefused) {
    TempDir dir;
    Writer writer;
    writer.addString("general.architecture", "pocketsphinx");
    writer.addString("pocketsphinx.dictionary_file", "../escape.dict");
    writer.addString("pocketsphinx.language_model_file", "x.lm.bin");
    writer.addBytes("hmm/mdef", {1});
    writer.addBytes("dict", {1});
    writer.addBytes("lm", {1});
    std::string error;
    ASSERT_TRUE(writer.write((dir / "bad.gguf").string(), error));
    const auto bytes = readAll((dir / "bad.gguf").string());
    const auto file = parse(bytes.data(), bytes.size(), error);
    ASSERT_TRUE(file);
    EXPECT_EQ(sphinx::load(*file, error), nullptr);
    EXPECT_EQ(error, "model names an invalid file");

    Writer traversal;
    traversal.addString("general.architecture", "pocketsphinx");
    traversal.addBytes("hmm/mdef", {1});
    traversal.addBytes("hmm/../../evil", {1});
    traversal.addBytes("dict", {1});
    traversal.addBytes("lm", {1});
    ASSERT_TRUE(traversal.write((dir / "bad2.gguf").string(), error));
    const auto bytes2 = readAll((dir / "bad2.gguf").string());
    const auto file2 = parse(bytes2.data(), bytes2.size(), error);
    ASSERT_TRUE(file2);
    EXPECT_EQ(sphinx::load(*file2, error), nullptr);
    EXPECT_EQ(error, "invalid acoustic model piece hmm/../../evil");
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
