// The unzip library's portable core on archives that Info-ZIP zip and Python's zipfile make at
// test time, intact and damaged, and its entry-name check.
#include "unzip_core.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<unsigned char>;

// python3 zipper.py OUT METHOD NAME [stream|comment|zip64]: OUT "-" writes to a pipe.
constexpr char kPythonZip[] = R"(import sys, zipfile
out, kind, name = sys.argv[1:4]
option = sys.argv[4] if len(sys.argv) > 4 else ''
with zipfile.ZipFile(sys.stdout.buffer if out == '-' else out, 'w', getattr(zipfile, 'ZIP_' + kind)) as z:
    with z.open(name, 'w', force_zip64=option == 'zip64') as f:
        f.write(open(name, 'rb').read())
    if option == 'comment':
        z.comment = b'PK\x05\x06 a comment that holds an end-record signature'
)";

struct UnzipCore : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("unzip-core-" + std::to_string(getpid()));
    bytes written;  // what the last unpack handed to its writer

    void SetUp() override
    {
        fs::create_directories(dir);
        std::ofstream(dir / "zipper.py") << kPythonZip;
        std::ofstream(dir / "text.txt") << std::string(5000, 'x') << "end of text\n";
        std::ofstream(dir / "empty.txt");
        std::ofstream big(dir / "big.bin", std::ios::binary);  // megabytes of text and noise: many chunks
        for (std::uint32_t i = 0, noise = 1; i < 200000; ++i) {
            big << "line " << i << '\n';
            for (int j = 0; j < 8; ++j) big.put(static_cast<char>((noise = noise * 69069u + 1u) >> 24));
        }
    }
    void TearDown() override { fs::remove_all(dir); }

    bytes make(const std::string& command)  // the a.zip that a shell command makes in dir
    {
        fs::remove(dir / "a.zip");
        EXPECT_EQ(std::system(("cd '" + dir.string() + "' && (" + command + ") 2>/dev/null").c_str()), 0) << command;
        return file(dir / "a.zip");
    }
    bytes file(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return bytes(std::istreambuf_iterator<char>(in), {});
    }

    // Finds the entry and extracts it through a writer that answers `fail_with` from its second chunk on.
    int unpack(const bytes& archive, std::uint16_t* flags = nullptr, int fail_with = unzip::ok)
    {
        const unzip::unzip_reader reader{const_cast<bytes*>(&archive), static_cast<std::uint32_t>(archive.size()),
                                         [](void* context, std::uint32_t offset, void* buffer, std::uint32_t count) {
                                             std::memcpy(buffer, static_cast<bytes*>(context)->data() + offset, count);
                                             return true;
                                         }};
        struct sink { bytes& out; int fail_with; } to{written, fail_with};
        const unzip::unzip_writer writer{&to, [](void* context, const void* data, std::uint32_t count) {
                                             auto& s = *static_cast<sink*>(context);
                                             if (!s.out.empty() && s.fail_with) return s.fail_with;
                                             auto* begin = static_cast<const unsigned char*>(data);
                                             s.out.insert(s.out.end(), begin, begin + count);
                                             return static_cast<int>(unzip::ok);
                                         }};
        written.clear();
        unzip::entry_info entry;
        int result = unzip::find_only_entry(reader, entry);
        if (!result && flags) *flags = entry.flags;
        if (!result) result = unzip::extract_entry(reader, entry, writer);
        unzip::release_entry(entry);
        return result;
    }
};

void patch32(bytes& data, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<unsigned char>(value >> 8 * i);
}
std::size_t central_at(const bytes& data) { return unzip::get32(&data[data.size() - 6]); }  // no comment

TEST_F(UnzipCore, UnpacksWhatOtherToolsWrite)
{
    struct { const char* how; const char* source; bool descriptor; } cases[] = {
        {"zip -q -0 a.zip text.txt", "text.txt", false},
        {"echo 'PK\x05\x06 comment' | zip -q -z a.zip text.txt", "text.txt", false},
        {"zip -q a.zip empty.txt", "empty.txt", false},
        {"zip -q a.zip big.bin", "big.bin", false},
        {"zip -q - big.bin | cat > a.zip", "big.bin", true},
        {"python3 zipper.py a.zip STORED big.bin comment", "big.bin", false},
        {"python3 zipper.py - DEFLATED big.bin | cat > a.zip", "big.bin", true},
        {"python3 zipper.py - DEFLATED empty.txt | cat > a.zip", "empty.txt", true},
    };
    for (const auto& c : cases) {
        std::uint16_t flags = 0;
        EXPECT_EQ(unpack(make(c.how), &flags), unzip::ok) << c.how;
        EXPECT_EQ(static_cast<bool>(flags & unzip::flag_data_descriptor), c.descriptor) << c.how;
        EXPECT_TRUE(written == file(dir / c.source)) << c.how << ": " << written.size() << " bytes";
    }
}

TEST_F(UnzipCore, RefusesDamagedAndUnsupportedArchives)
{
    const bytes deflated = make("zip -q -X a.zip big.bin");
    for (std::int32_t change : {-1, +1}) {  // the recorded size, in the local header and the directory alike
        bytes resized = deflated;
        const std::uint32_t size = unzip::get32(&resized[22]) + change;
        patch32(resized, 22, size);
        patch32(resized, central_at(resized) + 24, size);
        EXPECT_EQ(unpack(resized), unzip::size_mismatch) << change;
        EXPECT_LE(written.size(), size) << "nothing is written beyond the recorded size";
    }
    EXPECT_EQ(unpack(deflated, nullptr, unzip::disk_full), unzip::disk_full);
    EXPECT_EQ(written.size(), 256 * 1024u) << "one whole chunk before the failing write";

    bytes overlong = deflated;  // data said to run into the central directory
    patch32(overlong, 18, unzip::get32(&overlong[18]) + 1);
    patch32(overlong, central_at(overlong) + 20, unzip::get32(&overlong[18]));
    bytes descriptor = make("zip -q - text.txt | cat > a.zip");
    patch32(descriptor, central_at(descriptor) - 12, 0xDEADBEEF);  // the descriptor's CRC-32
    const bytes damaged[] = {bytes(deflated.begin(), deflated.end() - 30), overlong, descriptor, bytes{}};
    for (const bytes& archive : damaged) EXPECT_EQ(unpack(archive), unzip::damaged) << &archive - damaged;

    struct { const char* how; int expected; } refused[] = {
        {"zip -q a.zip text.txt empty.txt", unzip::damaged},
        {"mkdir -p d && zip -q a.zip d", unzip::damaged},  // a directory entry alone
        {"zip -q -P secret a.zip text.txt", unzip::unsupported},
        {"cat text.txt | zip -q - - | cat > a.zip", unzip::unsupported},  // zip64 in the local header
        {"python3 zipper.py a.zip DEFLATED text.txt zip64", unzip::unsupported},
        {"python3 zipper.py a.zip BZIP2 text.txt", unzip::unsupported},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(unpack(make(c.how)), c.expected) << c.how;
        EXPECT_TRUE(written.empty()) << c.how;
    }
}

TEST(UnzipNames, RefusesNamesThatLeaveTheDestination)
{
    const auto check = [](std::string name, unzip::lead_byte_test lead = nullptr) {
        return unzip::check_entry_name(name.data(), name.size(), lead) == unzip::ok ? name : "refused";
    };
    EXPECT_EQ(check("sub/deeper\\a b.txt"), "sub\\deeper\\a b.txt");
    EXPECT_EQ(check("...a"), "...a");
    EXPECT_EQ(check("com0.txt"), "com0.txt");
    for (const char* name : {"", "../x", "..\\x", "/x", "\\x", "C:x", "a:b", "a\\..\\x", "a/../x", "a//b", "a/", "./x",
                             "x.", "x ", "con.txt", "sub/Lpt1", "nul .txt", "clock$", "a\x01" "b", "a?b", "a|b"})
        EXPECT_EQ(check(name), "refused") << name;
    EXPECT_EQ(check(std::string("a\0b", 3)), "refused");

    // In code page 932 a trail byte may be 0x5C: part of its character, not a separator.
    const auto cp932 = [](unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); };
    EXPECT_EQ(check("\x83\\CON", cp932), "\x83\\CON");
    EXPECT_EQ(check("\x83\\CON"), "refused");
    EXPECT_EQ(check("\x83\\\\..\\x", cp932), "refused") << "the backslash after the character separates";
    EXPECT_EQ(check("\x83/x", cp932), "refused") << "no trail byte below 0x40";
}

}  // namespace
