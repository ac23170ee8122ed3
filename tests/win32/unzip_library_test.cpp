// The unzip library dunzipnt.dll (libs/dunzipnt), loaded from E:\testbin\ as SETUP.EXE loads it
// and called with a command record filled as the program fills it, on archives the test writes
// itself (zlib, the structures of unzip_core.h) on drive D:. Drive F:, when the prefix has it, is
// a 2 MiB tmpfs for the disk-full case.
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

const std::string kDll =
    (GetFileAttributesA("E:\\testbin") != INVALID_FILE_ATTRIBUTES ? "E:\\testbin\\" : "E:\\") + std::string("dunzipnt.dll");
constexpr std::uint32_t kTime = (40u << 9 | 6u << 5 | 15u) << 16 | (12u << 11 | 34u << 5 | 28u);  // 2020-06-15 12:34:56

struct {
    int entries, progress, entry_answer, progress_answer;
    std::string name;
    DWORD written, total, unpacked, crc, method, time;
} g;
int __stdcall on_progress(DWORD written, DWORD total, DWORD)
{
    ++g.progress, g.written = written, g.total = total;
    return g.progress_answer;
}
int __stdcall on_entry(DWORD name, DWORD unpacked, DWORD, DWORD crc, DWORD method, DWORD time, DWORD)
{
    ++g.entries, g.name = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(name));
    g.unpacked = unpacked, g.crc = crc, g.method = method, g.time = time;
    return g.entry_answer;
}

void put(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> 8 * i);
}
std::uint32_t crc_of(const std::string& data) { return crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()); }

// An archive of the given (name, data) entries, raw-deflated or stored, with these flags.
std::string zip_of(const std::vector<std::pair<std::string, std::string>>& entries, bool deflated = true,
                   std::uint16_t flags = 0)
{
    std::string out, directory;
    for (const auto& [name, data] : entries) {
        std::string packed = data;
        if (deflated) {
            z_stream s{};
            deflateInit2(&s, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
            packed.assign(deflateBound(&s, data.size()), '\0');
            s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data())), s.avail_in = data.size();
            s.next_out = reinterpret_cast<Bytef*>(&packed[0]), s.avail_out = packed.size();
            deflate(&s, Z_FINISH);
            packed.resize(s.total_out);
            deflateEnd(&s);
        }
        std::string fields;  // shared by the local header and the directory entry
        put(fields, 20, 2), put(fields, flags, 2), put(fields, deflated ? 8 : 0, 2), put(fields, kTime, 4);
        put(fields, crc_of(data), 4), put(fields, packed.size(), 4), put(fields, data.size(), 4);
        put(fields, name.size(), 2), put(fields, 0, 2);
        put(directory, unzip::central_entry_signature, 4), put(directory, 20, 2);
        directory += fields;
        put(directory, 0, 4), put(directory, 0, 2), put(directory, 0, 4), put(directory, out.size(), 4);
        put(out, unzip::local_header_signature, 4);
        out += fields + name + packed, directory += name;
    }
    const std::size_t directory_offset = out.size();
    put(out += directory, unzip::end_record_signature, 4), put(out, 0, 4), put(out, entries.size(), 2);
    put(out, entries.size(), 2), put(out, directory.size(), 4), put(out, directory_offset, 4), put(out, 0, 2);
    return out;
}

std::string text(std::size_t size)  // compressible, but not trivially
{
    std::string out;
    for (std::uint32_t n = 1; out.size() < size; n = n * 1103515245u + 12345u) out += "word" + std::to_string(n >> 20) + ' ';
    return out.substr(0, size);
}
bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
std::string read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}
void write(const std::string& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }
std::set<std::string> listing(const std::string& folder)  // names in folder, without . and ..
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
    for (const std::string& name : listing(folder))
        if (!DeleteFileA((folder + name).c_str())) remove_tree(folder + name + "\\"), RemoveDirectoryA((folder + name).c_str());
}

class UnzipLibrary : public ::testing::Test {
protected:
    HMODULE library = LoadLibraryA(kDll.c_str());
    int(__stdcall* dunzip)(void*) = reinterpret_cast<int(__stdcall*)(void*)>(GetProcAddress(library, "dunzip"));
    std::string root = "D:\\unzip-" + std::to_string(GetCurrentProcessId()) + "\\";
    std::string archive = root + "a.zip", out = root + "out\\";
    unsigned char record[110];

    void SetUp() override
    {
        ASSERT_TRUE(dunzip) << kDll;
        CreateDirectoryA(root.c_str(), nullptr);
        CreateDirectoryA(out.c_str(), nullptr);
        g = {};
        g.entry_answer = g.progress_answer = 1;
        fill(archive, out);
    }
    void TearDown() override
    {
        remove_tree(root);
        RemoveDirectoryA(root.c_str());
        FreeLibrary(library);
    }
    void set(int offset, DWORD value) { std::memcpy(record + offset, &value, 4); }
    // An address as the record's 4-byte field: a 64-bit process keeps these below 4 GiB.
    static DWORD low(const void* address)
    {
        const auto value = reinterpret_cast<std::uintptr_t>(address);
        EXPECT_EQ(static_cast<std::uint64_t>(value) >> 32, 0u) << "an address above 4 GiB";
        return static_cast<DWORD>(value);
    }
    // The record as SETUP.EXE fills it, at the offsets written out here, the same in both builds.
    void fill(const std::string& from, const std::string& to)
    {
        std::memset(record, 0, sizeof record);
        set(0, 110), set(4, 8), set(8, low(from.c_str())), set(24, low(to.c_str()));
        set(36, 1), set(40, 1), set(48, 1), set(52, 1);
        set(68, low(reinterpret_cast<const void*>(&on_progress))), set(100, low(reinterpret_cast<const void*>(&on_entry)));
    }
    int unzip(const std::string& zip)
    {
        write(archive, zip);
        return dunzip(record);
    }
};

TEST_F(UnzipLibrary, WritesTheEntryWholeReplacingAnOlderFile)
{
    const std::string data = text(600000);  // several 256 KiB chunks
    write(out + "DATA.TXT", "older content");
    ASSERT_EQ(unzip(zip_of({{"DATA.TXT", data}})), 0);
    EXPECT_EQ(read(out + "DATA.TXT"), data);
    EXPECT_EQ(listing(out), std::set<std::string>{"DATA.TXT"}) << "no temporary file left";
    EXPECT_EQ(g.entries, 1);
    EXPECT_EQ(g.name + ' ' + std::to_string(g.unpacked) + ' ' + std::to_string(g.method), "DATA.TXT 600000 8");
    EXPECT_EQ(g.crc, crc_of(data));
    EXPECT_EQ(g.time, kTime);
    EXPECT_EQ(g.progress, 1 + 3) << "once before, then after each of three chunks";
    EXPECT_EQ(g.written, data.size());
    EXPECT_EQ(g.total, data.size());
    HANDLE file = CreateFileA((out + "DATA.TXT").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME written, local;
    WORD date = 0, time = 0;
    EXPECT_TRUE(GetFileTime(file, nullptr, nullptr, &written) && FileTimeToLocalFileTime(&written, &local) &&
                FileTimeToDosDateTime(&local, &date, &time));
    CloseHandle(file);
    EXPECT_EQ(static_cast<std::uint32_t>(date) << 16 | time, kTime) << "the file carries the entry's time";

    // Stored, without callbacks, into directories the library makes.
    set(68, 0), set(100, 0);
    ASSERT_EQ(unzip(zip_of({{"sub/deeper/raw.bin", std::string("\0\1\2\xFF", 4)}}, false)), 0);
    EXPECT_EQ(read(out + "sub\\deeper\\raw.bin"), std::string("\0\1\2\xFF", 4));
    // A UTF-8 name arrives in the ANSI code page, or is refused when that cannot show it.
    char ansi[16] = {};
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9.txt", -1, ansi, sizeof ansi, nullptr, &lossy);
    EXPECT_EQ(unzip(zip_of({{"caf\xC3\xA9.txt", "utf"}}, true, unzip::flag_utf8_name)), lossy ? 66 : 0) << GetACP();
    EXPECT_EQ(read(out + ansi), lossy ? "<missing>" : "utf");
}

TEST_F(UnzipLibrary, OptionWordsAndRecordChecks)
{
    write(out + "KEEP.TXT", "kept");
    set(36, 0), set(40, 0);  // keep an existing file; write under the last component only
    EXPECT_EQ(unzip(zip_of({{"KEEP.TXT", "new"}})), 49);
    EXPECT_EQ(unzip(zip_of({{"sub/FLAT.TXT", "flat"}})), 0);
    EXPECT_EQ(listing(out), (std::set<std::string>{"FLAT.TXT", "KEEP.TXT"}));
    EXPECT_EQ(read(out + "KEEP.TXT"), "kept");

    set(4, 9);  // a "defaults" record gets the option words
    std::memset(record + 36, 7, 24);
    EXPECT_EQ(dunzip(record), 0);
    const DWORD defaults[] = {1, 1, 0, 1, 1, 0};
    EXPECT_EQ(std::memcmp(record + 36, defaults, sizeof defaults), 0);
    set(4, 7);
    EXPECT_EQ(dunzip(record), 60);
    set(4, 8), set(0, 109);
    EXPECT_EQ(dunzip(record), 60);
}

TEST_F(UnzipLibrary, FailuresLeaveTheDestinationAsItWas)
{
    write(out + "DATA.TXT", "older content");
    const std::string data = text(100000), whole = zip_of({{"DATA.TXT", data}});
    std::string flipped = zip_of({{"DATA.TXT", data}}, false), resized = whole;
    flipped[30 + 8 + 5000] ^= 1;
    resized[22] ^= 1, resized[resized.size() - 22 - 46 - 8 + 24] ^= 1;  // local and central size
    const struct { std::string zip; int code; int entry_answer, progress_answer; } cases[] = {
        {flipped, 64, 1, 1},  {resized, 65, 1, 1}, {whole.substr(0, whole.size() - 1), 62, 1, 1},
        {zip_of({{"DATA.TXT", data}}, true, unzip::flag_encrypted), 63, 1, 1},
        {whole, 49, 0, 1},    {whole, 49, 1, 0},  // a callback answered 0
    };
    for (const auto& c : cases) {
        g.entry_answer = c.entry_answer, g.progress_answer = c.progress_answer;
        EXPECT_EQ(unzip(c.zip), c.code) << &c - cases;
        EXPECT_EQ(listing(out), std::set<std::string>{"DATA.TXT"}) << &c - cases;
        EXPECT_EQ(read(out + "DATA.TXT"), "older content") << &c - cases;
    }
    const std::string missing = root + "missing\\", nowhere = root + "none.zip";
    fill(archive, missing);
    EXPECT_EQ(unzip(whole), 28);
    EXPECT_FALSE(exists(missing));
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
    const std::string drive = "F:\\";
    remove_tree(drive);
    write(drive + "filler.bin", std::string(1536 * 1024, 'f'));
    std::string noise(1024 * 1024, '\0');
    for (std::uint32_t i = 0, n = 7; i < noise.size(); ++i) noise[i] = static_cast<char>((n = n * 69069u + 1u) >> 24);
    fill(archive, drive);
    EXPECT_EQ(unzip(zip_of({{"BIG.BIN", noise}})), 50);
    EXPECT_EQ(listing(drive), std::set<std::string>{"filler.bin"});
    DeleteFileA((drive + "filler.bin").c_str());
    EXPECT_EQ(dunzip(record), 0);
    EXPECT_TRUE(read(drive + "BIG.BIN") == noise);
    remove_tree(drive);
}

}  // namespace
