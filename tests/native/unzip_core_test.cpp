// The unzip library's portable core on archives that Info-ZIP zip and Python's zipfile make at
// test time, intact and damaged, and its entry-name check.
#include "unzip_core.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<unsigned char>;

// Python's side: out kind name source [stream|comment|zip64]; out "-" writes to a pipe.
constexpr char kPythonZip[] = R"(import sys, zipfile
out, kind, name, source = sys.argv[1:5]
option = sys.argv[5] if len(sys.argv) > 5 else ''
method = {'stored': zipfile.ZIP_STORED, 'deflated': zipfile.ZIP_DEFLATED, 'bzip2': zipfile.ZIP_BZIP2}[kind]
with zipfile.ZipFile(sys.stdout.buffer if out == '-' else out, 'w', method) as z:
    with z.open(name, 'w', force_zip64=option == 'zip64') as f:
        f.write(open(source, 'rb').read())
    if option == 'comment':
        z.comment = b'PK\x05\x06 a comment that holds an end-record signature'
)";

struct UnzipCore : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("unzip-core-" + std::to_string(getpid()));

    void SetUp() override
    {
        fs::create_directories(dir);
        std::ofstream(dir / "zipper.py") << kPythonZip;
        std::ofstream(dir / "text.txt") << std::string(5000, 'x') << "end of text\n";
        std::ofstream(dir / "empty.txt");
        // Several megabytes of text and of noise: many input and output chunks either way.
        std::ofstream big(dir / "big.bin", std::ios::binary);
        std::uint32_t noise = 1;
        for (int i = 0; i < 200000; ++i) {
            noise = noise * 1103515245u + 12345u;
            big << "line " << i << ' ' << static_cast<char>('A' + (noise >> 24) % 26) << '\n';
            for (int j = 0; j < 8; ++j) big.put(static_cast<char>((noise = noise * 69069u + 1u) >> 24));
        }
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs a shell command in `dir` and answers the archive a.zip it made there.
    bytes make(const std::string& command)
    {
        fs::remove(dir / "a.zip");
        const std::string line = "cd '" + dir.string() + "' && " + command + " 2>/dev/null";
        EXPECT_EQ(std::system(line.c_str()), 0) << command;
        return file(dir / "a.zip");
    }
    static bytes file(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return bytes(std::istreambuf_iterator<char>(in), {});
    }
};

struct memory_archive {
    const bytes& data;
    unzip::unzip_reader reader() const
    {
        return {const_cast<bytes*>(&data), static_cast<std::uint32_t>(data.size()),
                [](void* context, std::uint32_t offset, void* buffer, std::uint32_t count) {
                    std::memcpy(buffer, static_cast<bytes*>(context)->data() + offset, count);
                    return true;
                }};
    }
};

struct collector {
    bytes out;
    int fail_with = unzip::ok;  // answered from the second chunk on
    int calls = 0;
    unzip::unzip_writer writer()
    {
        return {this, [](void* context, const void* data, std::uint32_t count) {
                    auto* self = static_cast<collector*>(context);
                    if (self->calls++ && self->fail_with) return self->fail_with;
                    self->out.insert(self->out.end(), static_cast<const unsigned char*>(data),
                                     static_cast<const unsigned char*>(data) + count);
                    return static_cast<int>(unzip::ok);
                }};
    }
};

// The whole way: find the entry, then extract it. Answers the first code that is not ok.
int unpack(const bytes& archive, collector& sink, std::string* name = nullptr, std::uint16_t* flags = nullptr)
{
    const unzip::unzip_reader reader = memory_archive{archive}.reader();
    unzip::entry_info entry;
    int result = unzip::find_only_entry(reader, entry);
    if (!result) {
        if (name) *name = entry.name;
        if (flags) *flags = entry.flags;
        result = unzip::extract_entry(reader, entry, sink.writer());
    }
    unzip::release_entry(entry);
    return result;
}

void patch32(bytes& data, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<unsigned char>(value >> 8 * i);
}
std::size_t central_at(const bytes& data) { return unzip::get32(&data[data.size() - 6]); }  // no comment

TEST_F(UnzipCore, UnpacksWhatOtherToolsWrite)
{
    const std::string py = "python3 zipper.py ";
    struct { const char* how; const char* source; bool descriptor; } cases[] = {
        {"zip -q -0 a.zip text.txt", "text.txt", false},
        {"zip -q a.zip text.txt", "text.txt", false},
        {"zip -q - text.txt | cat > a.zip", "text.txt", true},
        {"echo 'PK\x05\x06 comment' | zip -q -z a.zip text.txt", "text.txt", false},
        {"zip -q a.zip empty.txt", "empty.txt", false},
        {"zip -q a.zip big.bin", "big.bin", false},
        {"zip -q -0 a.zip big.bin", "big.bin", false},
        {"zip -q - big.bin | cat > a.zip", "big.bin", true},
        {"python3 zipper.py a.zip stored text.txt text.txt", "text.txt", false},
        {"python3 zipper.py a.zip deflated big.bin big.bin comment", "big.bin", false},
        {"python3 zipper.py - deflated big.bin big.bin | cat > a.zip", "big.bin", true},
        {"python3 zipper.py - stored text.txt text.txt | cat > a.zip", "text.txt", true},
        {"python3 zipper.py - deflated empty.txt empty.txt | cat > a.zip", "empty.txt", true},
    };
    for (const auto& c : cases) {
        collector sink;
        std::string name;
        std::uint16_t flags = 0;
        EXPECT_EQ(unpack(make(c.how), sink, &name, &flags), unzip::ok) << c.how;
        EXPECT_EQ(name, c.source) << c.how;
        EXPECT_EQ(static_cast<bool>(flags & unzip::flag_data_descriptor), c.descriptor) << c.how;
        EXPECT_TRUE(sink.out == file(dir / c.source)) << c.how << ": " << sink.out.size() << " bytes";
    }
}

TEST_F(UnzipCore, RefusesDamagedAndUnsupportedArchives)
{
    collector sink;
    bytes stored = make("zip -q -0 -X a.zip text.txt");
    stored[30 + 8 + 100] ^= 0x20;  // a data byte behind the 30-byte header and the name
    EXPECT_EQ(unpack(stored, sink), unzip::crc_mismatch);

    const bytes deflated = make("zip -q -X a.zip big.bin");
    for (std::int32_t change : {-1, +1}) {  // the recorded size, in the local header and the directory alike
        bytes resized = deflated;
        const std::uint32_t size = unzip::get32(&resized[22]) + change;
        patch32(resized, 22, size);
        patch32(resized, central_at(resized) + 24, size);
        collector capped;
        EXPECT_EQ(unpack(resized, capped), unzip::size_mismatch) << change;
        EXPECT_LE(capped.out.size(), size) << "nothing is written beyond the recorded size";
    }
    bytes cut(deflated.begin(), deflated.end() - 30);
    EXPECT_EQ(unpack(cut, sink), unzip::damaged) << "end record cut";
    bytes overlong = deflated;  // data said to run into the central directory
    const std::uint32_t packed = unzip::get32(&overlong[18]) + 1;
    patch32(overlong, 18, packed);
    patch32(overlong, central_at(overlong) + 20, packed);
    EXPECT_EQ(unpack(overlong, sink), unzip::damaged) << "data past their room";
    bytes local_only = deflated;
    patch32(local_only, 0, 0x04034B51);
    EXPECT_EQ(unpack(local_only, sink), unzip::damaged) << "local header signature";
    bytes descriptor = make("zip -q - text.txt | cat > a.zip");
    patch32(descriptor, central_at(descriptor) - 12, 0xDEADBEEF);  // the descriptor's CRC
    EXPECT_EQ(unpack(descriptor, sink), unzip::damaged) << "descriptor and directory disagree";
    EXPECT_EQ(unpack(bytes{}, sink), unzip::damaged);

    struct { const char* how; int expected; } refused[] = {
        {"zip -q a.zip text.txt empty.txt", unzip::damaged},
        {"mkdir -p d && zip -q a.zip d", unzip::damaged},  // a directory entry alone
        {"zip -q -P secret a.zip text.txt", unzip::unsupported},
        {"cat text.txt | zip -q - - | cat > a.zip", unzip::unsupported},  // zip64 in the local header
        {"python3 zipper.py a.zip deflated text.txt text.txt zip64", unzip::unsupported},
        {"python3 zipper.py a.zip bzip2 text.txt text.txt", unzip::unsupported},
    };
    collector untouched;
    for (const auto& c : refused) EXPECT_EQ(unpack(make(c.how), untouched), c.expected) << c.how;
    EXPECT_TRUE(untouched.out.empty()) << "no refused archive handed data to the writer";
}

TEST_F(UnzipCore, StopsAtTheFirstFailure)
{
    const bytes archive = make("zip -q a.zip big.bin");
    collector full;
    full.fail_with = unzip::disk_full;
    EXPECT_EQ(unpack(archive, full), unzip::disk_full);
    EXPECT_EQ(full.calls, 2) << "no write after the failed one";

    unzip::entry_info entry;
    unzip::unzip_reader reader = memory_archive{archive}.reader();
    ASSERT_EQ(unzip::find_only_entry(reader, entry), unzip::ok);
    reader.read = [](void*, std::uint32_t, void*, std::uint32_t) { return false; };
    collector sink;
    EXPECT_EQ(unzip::extract_entry(reader, entry, sink.writer()), unzip::cannot_read);
    unzip::release_entry(entry);
}

TEST(UnzipNames, RefusesNamesThatLeaveTheDestination)
{
    const auto check = [](std::string name, unzip::lead_byte_test lead = nullptr) {
        const int result = unzip::check_entry_name(name.data(), name.size(), lead);
        return result == unzip::ok ? name : "refused";
    };
    EXPECT_EQ(check("a.txt"), "a.txt");
    EXPECT_EQ(check("sub/deeper\\a b.txt"), "sub\\deeper\\a b.txt");
    EXPECT_EQ(check("...a"), "...a");
    EXPECT_EQ(check("CONFIG.SYS"), "CONFIG.SYS");
    EXPECT_EQ(check("com0.txt"), "com0.txt");
    for (const char* name : {"", "../x", "..\\x", "/x", "\\x", "C:x", "a:b", "a\\..\\x", "a/../x", "x/..", "a//b",
                             "a/", ".", "./x", "x.", "x ", "CON", "con.txt", "sub/Lpt1", "nul .txt", "clock$",
                             "a\x01" "b", "a?b", "a*", "a|b", "a<b", "a\"b"})
        EXPECT_EQ(check(name), "refused") << name;
    EXPECT_EQ(check(std::string("a\0b", 3)), "refused");

    // In code page 932 a trail byte may be 0x5C or 0x7C: part of its character, not a separator or a bar.
    const auto cp932 = [](unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); };
    EXPECT_EQ(check("\x83\\CON", cp932), "\x83\\CON");
    EXPECT_EQ(check("\x83|.txt", cp932), "\x83|.txt");
    EXPECT_EQ(check("\x83\\CON"), "refused");
    EXPECT_EQ(check("\x83|.txt"), "refused");
    EXPECT_EQ(check("\x83\\\\..\\x", cp932), "refused") << "the backslash after the character still separates";
    EXPECT_EQ(check("\x83/x", cp932), "refused") << "no trail byte below 0x40";
}

}  // namespace
