// Archives written by PakWriter, read back through the game's own lookup, for every version,
// plain and compressed.
#include "archive/pak_writer.h"

#include "archive/failure.h"
#include "archive/file_handle.h"
#include "platform/streams.h"
#include "tests/support/vfs_support.h"
#include "vfs/file_open.h"
#include "vfs/pak_directory.h"
#include "vfs/virtual_file.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace testing_support;
using pak::FileHandle;

namespace {

struct Source {
    std::string name, data;
};

const std::vector<Source>& sources() {
    static const std::vector<Source> all = {
        {"GAME.INI", "[\x90\xdd\x92\xe8]\r\nTitle=x\r\n"},
        {"\x95\x5C\\\x83\x5C.txt", "hyou-so"}, // 表\ソ.txt: both trail bytes are 0x5C
        {"\x83\x5C.txt", "so"},                // ソ.txt
        {"big.bin", randomBytes(300000, 11)},  // more than one chunk of the writer
        {"empty.dat", ""},
        {"zeros.bin", std::string(200000, '\0')},
    };
    return all;
}

// Writes an archive of sources() into dir\data.pak; the sources live in dir\src.
void writeArchive(const TempDir& dir, const pak::WriterSettings& settings) {
    FileHandle spill(platform::createNewFile((dir / "spill.tmp").c_str()));
    ASSERT_TRUE(spill);
    pak::PakWriter writer(settings, spill.get(), "data.pak");
    int n = 0;
    for (const Source& source : sources()) {
        std::string path = dir / ("src\\" + std::to_string(n++));
        writeFile(path, source.data);
        FileHandle in(platform::openStream(path.c_str(), "rb"));
        ASSERT_TRUE(in);
        writer.add(source.name, in.get(), path);
    }
    FileHandle out(platform::openStream((dir / "data.pak").c_str(), "wb"));
    ASSERT_TRUE(out);
    writer.finish(out.get());
}

} // namespace

class PakWriterRoundTrip : public ::testing::TestWithParam<std::tuple<int, bool>> {
  protected:
    void SetUp() override {
        resetFileSystemState();
        suppressFilePrompt = 1;
    }
    TempDir dir;
};

TEST_P(PakWriterRoundTrip, TheGamesLookupReadsEveryEntryBack) {
    auto [version, compress] = GetParam();
    pak::WriterSettings settings;
    settings.version = static_cast<uint32_t>(version);
    settings.compress = compress;
    if (version >= 2) settings.archiveName = "\x83\x81\x83\x43\x83\x93"; // メイン
    writeArchive(dir, settings);

    CurrentDirectory here(dir);
    for (const Source& source : sources()) {
        VirtualFile file;
        ASSERT_EQ(file.open(source.name.c_str(), 0), 1) << source.name;
        EXPECT_EQ(file.inArchive, 1) << source.name;
        // Version 0 has no compression: everything is read in place.
        EXPECT_EQ(file.inMemory, compress && version != 0 ? 1 : 0) << source.name;
        std::string data(file.size(), '\0');
        data.resize(file.read(&data[0], static_cast<uint32_t>(data.size())));
        EXPECT_EQ(data, source.data) << source.name;
    }

    VirtualFile archive;
    ASSERT_EQ(archive.open("data.pak", 0), 1);
    PakDirectory directory(archive);
    EXPECT_EQ(directory.header().version, static_cast<uint32_t>(version));
    EXPECT_EQ(directory.header().entryCount, sources().size());
    EXPECT_EQ(std::string(directory.header().archiveName), settings.archiveName);
    ASSERT_TRUE(directory.readDirectory());
    PakEntry entry;
    StoredEntry stored;
    uint64_t end = 0;
    while (directory.next(entry, stored)) {
        EXPECT_TRUE(directory.dataInside(stored));
        end = uint64_t{stored.dataStart} + stored.storedSize();
    }
    EXPECT_FALSE(directory.broken());
    EXPECT_EQ(end, directory.archiveSize()); // nothing after the last entry
}

INSTANTIATE_TEST_SUITE_P(AllVersions, PakWriterRoundTrip,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3, 4), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
                             return "v" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_compressed" : "_plain");
                         });
