// The unzip library dunzipnt.dll (libs/dunzipnt), loaded from E:\testbin\ as SETUP.EXE loads it
// and called through its export with a command record filled as the program fills it. The test
// writes its archives itself (zlib, the structures of unzip_core.h) on drive D:; drive F:, when
// the prefix has it, is a 2 MiB tmpfs for the disk-full case.
#include <windows.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "unzip_core.h"

namespace {

using Dunzip = int(__stdcall*)(void*);
const std::string kDll =
    (GetFileAttributesA("E:\\testbin") != INVALID_FILE_ATTRIBUTES ? "E:\\testbin\\" : "E:\\") + std::string("dunzipnt.dll");
constexpr std::uint32_t kTime = (40u << 9 | 6u << 5 | 15u) << 16 | (12u << 11 | 34u << 5 | 28u);  // 2020-06-15 12:34:56

struct calls {
    int entries = 0, progress = 0;
    std::string name;
    DWORD written = 0, total = 0, unpacked = 0, crc = 0, method = 0, time = 0;
    int entry_answer = 1, progress_answer = 1;
} g;

int __stdcall on_progress(DWORD written, DWORD total, DWORD)
{
    ++g.progress;
    g.written = written;
    g.total = total;
    return g.progress_answer;
}
int __stdcall on_entry(DWORD name, DWORD unpacked, DWORD, DWORD crc, DWORD method, DWORD time, DWORD)
{
    ++g.entries;
    g.name = reinterpret_cast<const char*>(name);
    g.unpacked = unpacked, g.crc = crc, g.method = method, g.time = time;
    return g.entry_answer;
}

void put(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> 8 * i);
}

std::string deflated(const std::string& data)
{
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = data.size();
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = out.size();
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// An archive of the given (name, data) entries, deflated or stored, with these flags.
std::string zip_of(const std::vector<std::pair<std::string, std::string>>& entries, bool deflate = true,
                   std::uint16_t flags = 0)
{
    std::string out, directory;
    for (const auto& [name, data] : entries) {
        const std::string packed = deflate ? deflated(data) : data;
        std::string fields;
        put(fields, 20, 2), put(fields, flags, 2), put(fields, deflate ? 8 : 0, 2), put(fields, kTime, 4);
        put(fields, crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()), 4);
        put(fields, packed.size(), 4), put(fields, data.size(), 4), put(fields, name.size(), 2), put(fields, 0, 2);
        put(directory, unzip::central_entry_signature, 4), put(directory, 20, 2);
        directory += fields;
        put(directory, 0, 4), put(directory, 0, 2), put(directory, 0, 4), put(directory, out.size(), 4);
        directory += name;
        put(out, unzip::local_header_signature, 4);
        out += fields + name + packed;
    }
    const std::size_t directory_offset = out.size();
    put(out += directory, unzip::end_record_signature, 4), put(out, 0, 4);
    put(out, entries.size(), 2), put(out, entries.size(), 2), put(out, directory.size(), 4);
    put(out, directory_offset, 4), put(out, 0, 2);
    return out;
}

std::string text(std::size_t size)  // compressible, but not trivially
{
    std::string out;
    for (std::uint32_t n = 1; out.size() < size; n = n * 1103515245u + 12345u) out += "word" + std::to_string(n >> 20) + ' ';
    out.resize(size);
    return out;
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
std::string read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}
void write(const std::string& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }
std::set<std::string> listing(const std::string& folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE found = FindFirstFileA((folder + "*").c_str(), &data);
    for (bool more = found != INVALID_HANDLE_VALUE; more; more = FindNextFileA(found, &data))
        if (std::strcmp(data.cFileName, ".") && std::strcmp(data.cFileName, "..")) names.insert(data.cFileName);
    if (found != INVALID_HANDLE_VALUE) FindClose(found);
    return names;
}
void remove_tree(const std::string& folder)
{
    for (const std::string& name : listing(folder)) {
        const std::string path = folder + name;
        if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
            remove_tree(path + "\\");
            RemoveDirectoryA(path.c_str());
        } else {
            DeleteFileA(path.c_str());
        }
    }
}

class UnzipLibrary : public ::testing::Test {
protected:
    HMODULE library = LoadLibraryA(kDll.c_str());
    Dunzip dunzip = reinterpret_cast<Dunzip>(GetProcAddress(library, "dunzip"));
    std::string root = "D:\\unzip-" + std::to_string(GetCurrentProcessId()) + "\\";
    std::string archive = root + "a.zip", out = root + "out\\";
    unsigned char record[110];

    void SetUp() override
    {
        ASSERT_TRUE(dunzip) << kDll;
        CreateDirectoryA(root.c_str(), nullptr);
        CreateDirectoryA(out.c_str(), nullptr);
        g = calls{};
        fill(archive, out);
    }
    void TearDown() override
    {
        remove_tree(root);
        RemoveDirectoryA(root.c_str());
        FreeLibrary(library);
    }
    void set(int offset, DWORD value) { std::memcpy(record + offset, &value, 4); }
    DWORD at(int offset) const
    {
        DWORD value;
        std::memcpy(&value, record + offset, 4);
        return value;
    }
    // The record as SETUP.EXE fills it.
    void fill(const std::string& from, const std::string& to)
    {
        std::memset(record, 0, sizeof record);
        set(0, 110), set(4, 8), set(8, reinterpret_cast<DWORD>(from.c_str())), set(24, reinterpret_cast<DWORD>(to.c_str()));
        set(36, 1), set(40, 1), set(48, 1), set(52, 1);
        set(68, reinterpret_cast<DWORD>(&on_progress)), set(100, reinterpret_cast<DWORD>(&on_entry));
    }
    int unzip(const std::string& zip)
    {
        write(archive, zip);
        return dunzip(record);
    }
};

TEST_F(UnzipLibrary, WritesTheEntryWholeReplacingAnOlderFile)
{
    const std::string data = text(300000);  // several 64 KiB chunks
    write(out + "DATA.TXT", "older content");
    ASSERT_EQ(unzip(zip_of({{"DATA.TXT", data}})), 0);
    EXPECT_EQ(read(out + "DATA.TXT"), data);
    EXPECT_EQ(listing(out), std::set<std::string>{"DATA.TXT"}) << "no temporary file left";
    EXPECT_EQ(g.entries, 1);
    EXPECT_EQ(g.name, "DATA.TXT");
    EXPECT_EQ(g.unpacked, data.size());
    EXPECT_EQ(g.crc, crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
    EXPECT_EQ(g.method, 8u);
    EXPECT_EQ(g.time, kTime);
    EXPECT_GE(g.progress, 3);
    EXPECT_EQ(g.written, data.size());
    EXPECT_EQ(g.total, data.size());
    // The file carries the entry's time.
    HANDLE file = CreateFileA((out + "DATA.TXT").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME written, local;
    WORD date = 0, time = 0;
    EXPECT_TRUE(GetFileTime(file, nullptr, nullptr, &written) && FileTimeToLocalFileTime(&written, &local) &&
                FileTimeToDosDateTime(&local, &date, &time));
    CloseHandle(file);
    EXPECT_EQ(static_cast<std::uint32_t>(date) << 16 | time, kTime);

    // Stored, without callbacks, into directories the library makes; an empty file.
    set(68, 0), set(100, 0);
    ASSERT_EQ(unzip(zip_of({{"sub/deeper/raw.bin", std::string("\0\1\2\xFF", 4)}}, false)), 0);
    EXPECT_EQ(read(out + "sub\\deeper\\raw.bin"), std::string("\0\1\2\xFF", 4));
    ASSERT_EQ(unzip(zip_of({{"EMPTY", ""}})), 0);
    EXPECT_EQ(read(out + "EMPTY"), "");

    // A UTF-8 name arrives in the ANSI code page, or is refused when that cannot show it.
    char ansi[16] = {};
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9.txt", -1, ansi, sizeof ansi, nullptr, &lossy);
    EXPECT_EQ(unzip(zip_of({{"caf\xC3\xA9.txt", "utf"}}, true, unzip::flag_utf8_name)), lossy ? 66 : 0) << GetACP();
    if (!lossy) {
        EXPECT_EQ(read(out + ansi), "utf");
    }
}

TEST_F(UnzipLibrary, OptionWordsAndRecordChecks)
{
    write(out + "KEEP.TXT", "kept");
    set(36, 0);  // leave an existing file as it is
    EXPECT_EQ(unzip(zip_of({{"KEEP.TXT", "new"}})), 49);
    EXPECT_EQ(read(out + "KEEP.TXT"), "kept");
    set(40, 0);  // the entry's last component only
    EXPECT_EQ(unzip(zip_of({{"sub/FLAT.TXT", "flat"}})), 0);
    EXPECT_EQ(read(out + "FLAT.TXT"), "flat");

    set(4, 9);  // a "defaults" record gets the option words
    for (int offset = 36; offset <= 56; offset += 4) set(offset, 7);
    EXPECT_EQ(dunzip(record), 0);
    EXPECT_EQ((std::vector<DWORD>{at(36), at(40), at(44), at(48), at(52), at(56)}), (std::vector<DWORD>{1, 1, 0, 1, 1, 0}));
    set(4, 7);
    EXPECT_EQ(dunzip(record), 60);
    set(4, 8), set(0, 109);
    EXPECT_EQ(dunzip(record), 60);
    EXPECT_EQ(dunzip(nullptr), 60);
}

TEST_F(UnzipLibrary, FailuresLeaveTheDestinationAsItWas)
{
    write(out + "DATA.TXT", "older content");
    const std::string data = text(100000);
    std::string flipped = zip_of({{"DATA.TXT", data}}, false);
    flipped[30 + 8 + 5000] ^= 1;
    std::string resized = zip_of({{"DATA.TXT", data}});
    resized[22] ^= 1;                                        // the local header's size
    resized[resized.size() - 22 - 46 - 8 + 24] ^= 1;         // the directory's
    const std::string whole = zip_of({{"DATA.TXT", data}});
    const struct { std::string zip; int code; const char* what; } cases[] = {
        {flipped, 64, "CRC"},
        {resized, 65, "size"},
        {whole.substr(0, whole.size() - 1), 62, "truncated"},
        {zip_of({{"DATA.TXT", data}, {"MORE.TXT", data}}), 62, "two entries"},
        {zip_of({{"DATA.TXT", data}}, true, unzip::flag_encrypted), 63, "encrypted"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unzip(c.zip), c.code) << c.what;
        EXPECT_EQ(listing(out), std::set<std::string>{"DATA.TXT"}) << c.what;
        EXPECT_EQ(read(out + "DATA.TXT"), "older content") << c.what;
    }
    g.progress_answer = 0;
    EXPECT_EQ(unzip(whole), 49) << "progress callback answered 0";
    g.progress_answer = 1, g.entry_answer = 0;
    EXPECT_EQ(unzip(whole), 49) << "entry callback answered 0";
    EXPECT_EQ(listing(out), std::set<std::string>{"DATA.TXT"});
    EXPECT_EQ(read(out + "DATA.TXT"), "older content");
    g.entry_answer = 1;

    const std::string missing = root + "missing\\";
    fill(archive, missing);
    EXPECT_EQ(unzip(whole), 28);
    EXPECT_FALSE(exists(missing));
    const std::string nowhere = root + "none.zip";
    fill(nowhere, out);
    EXPECT_EQ(dunzip(record), 61);
}

TEST_F(UnzipLibrary, UnsafeNamesWriteNothingAnywhere)
{
    write(archive, "");
    const auto before = listing(root);
    for (const char* name : {"../x", "..\\x", "/x", "\\x", "C:x", "a\\..\\x", "sub/../../x", "CON", "x:stream"}) {
        EXPECT_EQ(unzip(zip_of({{name, "bad"}})), 66) << name;
        EXPECT_TRUE(listing(out).empty()) << name;
        EXPECT_EQ(listing(root), before) << name;
        EXPECT_FALSE(exists("D:\\x") || exists("C:x")) << name;
    }
    EXPECT_EQ(g.entries, 0) << "refused before the entry callback";
}

TEST_F(UnzipLibrary, DiskFullLeavesNothingAndALaterCallSucceeds)
{
    if (!exists("F:\\")) GTEST_SKIP() << "no drive F: (a 2 MiB tmpfs that scripts/wine-prefix.sh mounts when it can)";
    const std::string target = "F:\\";
    remove_tree(target);
    write(target + "filler.bin", std::string(1536 * 1024, 'f'));
    std::string noise(1024 * 1024, '\0');
    for (std::uint32_t i = 0, n = 7; i < noise.size(); ++i) noise[i] = static_cast<char>((n = n * 69069u + 1u) >> 24);
    fill(archive, target);
    EXPECT_EQ(unzip(zip_of({{"BIG.BIN", noise}})), 50);
    EXPECT_EQ(listing(target), std::set<std::string>{"filler.bin"});
    DeleteFileA((target + "filler.bin").c_str());
    EXPECT_EQ(dunzip(record), 0);
    EXPECT_TRUE(read(target + "BIG.BIN") == noise);
    remove_tree(target);
}

}  // namespace
