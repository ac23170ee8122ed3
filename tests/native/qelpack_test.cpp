// qelpack: manifests into packages and program files, and back through list, verify and extract.
#include "qelpack.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "clientdb/db_format.h"
#include "package/package_format.h"
#include "pe_marker.h"

namespace {

namespace fs = std::filesystem;

void put16(byte_buffer& bytes, std::size_t at, std::uint32_t value)
{
    bytes[at] = static_cast<unsigned char>(value);
    bytes[at + 1] = static_cast<unsigned char>(value >> 8);
}

void put32(byte_buffer& bytes, std::size_t at, std::uint32_t value)
{
    put16(bytes, at, value & 0xFFFF);
    put16(bytes, at + 2, value >> 16);
}

std::uint32_t get32(const byte_buffer& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

byte_buffer contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return byte_buffer(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write(const fs::path& path, std::string_view text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

void write(const fs::path& path, const byte_buffer& bytes)
{
    write(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// A package's fields as the program's reader sees them, read from memory.
struct read_back {
    run_state state = initial_run_state();
    package_reserved reserved{};
    explicit read_back(const byte_buffer& bytes, std::uint32_t start = 0)
    {
        struct cursor { const byte_buffer& bytes; std::size_t at; } source_cursor{bytes, start};
        package_source source{&source_cursor, [](void* context, void* buffer, std::uint32_t count) {
            auto& c = *static_cast<cursor*>(context);
            if (c.at + count > c.bytes.size()) return false;
            std::memcpy(buffer, c.bytes.data() + c.at, count);
            c.at += count;
            return true;
        }};
        EXPECT_EQ(read_package_fields(source, start, bytes.size(), state, reserved), 0);
    }
    ~read_back() { release_package_fields(state, reserved); }
    const package_member& member(int i) const { return *state.file_table->members[i]; }
};

// A small PE image: headers, one .rsrc section whose directory holds RCDATA 99 (a decoy that
// also begins with the marker magic) and RCDATA 100 (the marker). `marker_id` 101 leaves it out.
constexpr std::uint32_t pe_marker_offset = 0x2A8;
constexpr std::uint32_t pe_image_end = 0x400;

byte_buffer synthetic_pe(std::uint32_t marker_id = 100)
{
    byte_buffer pe(pe_image_end, 0);
    pe[0] = 'M', pe[1] = 'Z';
    put32(pe, 0x3C, 0x40);
    std::memcpy(&pe[0x40], "PE\0\0", 4);
    put16(pe, 0x44, 0x14C);             // i386
    put16(pe, 0x46, 1);                 // one section
    put16(pe, 0x54, 0xE0);              // optional header size
    put16(pe, 0x58, 0x10B);             // PE32
    put32(pe, 0x58 + 60, 0x200);        // size of headers
    put32(pe, 0x58 + 92, 16);           // data directories
    put32(pe, 0x58 + 112, 0x1000);      // resource directory RVA
    put32(pe, 0x58 + 116, 0x100);
    std::memcpy(&pe[0x138], ".rsrc", 5);
    put32(pe, 0x138 + 8, 0x100);        // virtual size
    put32(pe, 0x138 + 12, 0x1000);      // virtual address
    put32(pe, 0x138 + 16, 0x200);       // raw size
    put32(pe, 0x138 + 20, 0x200);       // raw offset
    const std::size_t r = 0x200;        // directories: type 10 -> ids 99, marker_id -> one language each
    put16(pe, r + 14, 1), put32(pe, r + 16, 10), put32(pe, r + 20, 0x80000018);
    put16(pe, r + 0x18 + 14, 2), put32(pe, r + 0x28, 99), put32(pe, r + 0x2C, 0x80000038);
    put32(pe, r + 0x30, marker_id), put32(pe, r + 0x34, 0x80000050);
    put16(pe, r + 0x38 + 14, 1), put32(pe, r + 0x48, 0x409), put32(pe, r + 0x4C, 0x68);
    put16(pe, r + 0x50 + 14, 1), put32(pe, r + 0x60, 0x409), put32(pe, r + 0x64, 0x78);
    put32(pe, r + 0x68, 0x1088), put32(pe, r + 0x6C, 28);
    put32(pe, r + 0x78, 0x10A8), put32(pe, r + 0x7C, 28);
    std::memcpy(&pe[r + 0x88], "_ZoffZ_\0", 8);
    std::memcpy(&pe[pe_marker_offset], "_ZoffZ_\0", 8);
    return pe;
}

class Qelpack : public ::testing::Test {
protected:
    fs::path dir;
    std::ostringstream out, err;

    void SetUp() override
    {
        char name[] = "/tmp/qelpack-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }

    int build(std::string_view manifest, const std::string& stub = {})
    {
        write(dir / "manifest.ini", manifest);
        out.str(""), err.str("");
        return build_command({(dir / "manifest.ini").string(), (dir / "OUT.EXE").string(), stub, stub.empty()}, out,
                             err);
    }
    int verify(const byte_buffer& bytes)
    {
        write(dir / "check.pkg", bytes);
        err.str("");
        return verify_command((dir / "check.pkg").string(), out, err);
    }
    std::set<std::string> files() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
        return names;
    }
};

TEST_F(Qelpack, ManifestRoundTripsThroughReaderListVerifyAndExtract)
{
    write(dir / "src/unzip.bin", "MZ library bytes");
    write(dir / "src/notes.txt", "written directly");
    write(dir / "src/mac.dll", std::string("\0\1\2mac", 6));
    write(dir / "src/x.ini", std::string(5000, 'a') + "end");
    write(dir / "src/merge.db", "");
    ASSERT_EQ(
        build("; comment\n[package]\nproduct_name = Round Trip\n"
              "welcome_text = \"Line one\\nLine two \\\\n stays \"\n"
              "direct_member = NOTES.TXT\ndb_version = 3.1\nreserved_switch_20 = yes\n"
              "[rename_list]\nKEEP.INI =\nA.TXT = B.TXT\n[accepted_builds]\n3010, 0x0BC3\n"
              "[reserved_numbers_26]\n4000000000\n[group fonts]\nvalue = 7\nvalues = 1, 2, 3\nnames = ARIAL, TIMES\n"
              "[members]\ndunzipnt.dll = src/unzip.bin\nNOTES.TXT = src/notes.txt\nsystem/qelmac.dll = src/mac.dll\n"
              "if_newer\\tool\\x.ini = src/x.ini\nidb\\merge.db = src/merge.db\n"),
        0)
        << err.str();

    const byte_buffer package = contents(dir / "OUT.EXE");
    read_back fields(package);
    EXPECT_STREQ(fields.state.welcome_text, "Line one\r\nLine two \\n stays ");
    EXPECT_EQ(fields.state.db_version, 3 | 1 << 8);
    EXPECT_EQ(fields.reserved.switch_b, 1);
    EXPECT_STREQ(fields.state.rename_list.first[0], "KEEP.INI");
    EXPECT_STREQ(fields.state.rename_list.second[0], "");
    EXPECT_STREQ(fields.state.rename_list.second[1], "B.TXT");
    ASSERT_EQ(fields.state.accepted_builds.count, 2);
    EXPECT_EQ(fields.state.accepted_builds.values[1], 3011);
    ASSERT_EQ(fields.reserved.numbers_26_count, 1);
    EXPECT_EQ(fields.reserved.numbers_26[0], 4000000000u);
    ASSERT_EQ(fields.reserved.group_count, 1);
    EXPECT_EQ(fields.reserved.groups[0].value, 7u);
    EXPECT_EQ(fields.reserved.groups[0].values->value, 3u);  // newest first
    EXPECT_STREQ(fields.reserved.groups[0].names->name, "TIMES");
    ASSERT_EQ(fields.state.file_table->count, 5);
    EXPECT_STREQ(member_name(&fields.member(2)), "system\\qelmac.dll");
    EXPECT_EQ(fields.state.file_table->total_unpacked, 16u + 16 + 6 + 5003 + 0);
    EXPECT_EQ(fields.member(4).data_offset + fields.member(4).stored_size, package.size());

    // The unzip library and the direct member are their files' bytes; the others are archives.
    for (int i : {0, 1}) {
        const byte_buffer source = contents(dir / (i ? "src/notes.txt" : "src/unzip.bin"));
        EXPECT_EQ(byte_buffer(package.begin() + fields.member(i).data_offset,
                              package.begin() + fields.member(i).data_offset + fields.member(i).stored_size),
                  source);
    }
    EXPECT_EQ(get32(package, fields.member(3).data_offset), 0x04034B50u);
    EXPECT_LT(fields.member(3).stored_size, 200u);  // deflated, not stored

    out.str("");
    ASSERT_EQ(list_command((dir / "OUT.EXE").string(), false, out, err), 0);
    const std::string listing = out.str();
    for (auto [name, rule] : {std::pair{"dunzipnt.dll", "unzip library"}, {"NOTES.TXT", "direct"},
                              {"system\\qelmac.dll", "system file"}, {"if_newer\\tool\\x.ini", "copy if newer"},
                              {"idb\\merge.db", "delivered database"}}) {
        const auto line_end = listing.rfind(std::string(name) + "\n");  // the member table comes last
        ASSERT_NE(line_end, std::string::npos) << name;
        const auto line_start = listing.rfind('\n', line_end) + 1;
        EXPECT_NE(listing.substr(line_start, line_end - line_start).find(rule), std::string::npos) << name;
    }
    EXPECT_NE(listing.find("welcome_text = Line one\\nLine two \\\\n stays \n"), std::string::npos);

    EXPECT_EQ(verify_command((dir / "OUT.EXE").string(), out, err), 0) << err.str();
    ASSERT_EQ(extract_command((dir / "OUT.EXE").string(), (dir / "x").string(), out, err), 0) << err.str();
    EXPECT_EQ(contents(dir / "x/if_newer/tool/x.ini"), contents(dir / "src/x.ini"));
    EXPECT_EQ(contents(dir / "x/system/qelmac.dll"), contents(dir / "src/mac.dll"));
    EXPECT_EQ(contents(dir / "x/dunzipnt.dll"), contents(dir / "src/unzip.bin"));
    EXPECT_TRUE(fs::exists(dir / "x/idb/merge.db"));
    EXPECT_EQ(fs::file_size(dir / "x/idb/merge.db"), 0u);
}

TEST_F(Qelpack, VerifyNamesTheFirstDamagedMember)
{
    write(dir / "a.txt", "first member");
    std::string noise(3000, '\0');  // incompressible: deflate stores it, so a flipped byte still inflates
    std::uint32_t seed = 1;
    for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 23);
    write(dir / "b.txt", noise);
    ASSERT_EQ(build("[members]\na.txt = a.txt\nsub\\b.txt = b.txt\n"), 0) << err.str();
    const byte_buffer package = contents(dir / "OUT.EXE");
    read_back fields(package);
    const std::uint32_t a = fields.member(0).data_offset, b = fields.member(1).data_offset;
    ASSERT_EQ(verify(package), 0) << err.str();

    byte_buffer flipped = package;
    flipped[b + 30 + 5 + 100] ^= 0x10;  // inside b's data
    EXPECT_EQ(verify(flipped), 1);
    EXPECT_NE(err.str().find("member 1 (sub\\b.txt): CRC-32 mismatch"), std::string::npos) << err.str();

    const byte_buffer truncated(package.begin(), package.end() - 1);
    EXPECT_EQ(verify(truncated), 1);
    EXPECT_NE(err.str().find("member 1 (sub\\b.txt): its data"), std::string::npos) << err.str();

    byte_buffer renamed = package;  // a sound archive whose entry has another name
    const std::uint32_t central = a + get32(package, b - 22 + 16);
    ASSERT_EQ(renamed[a + 30], 'A');
    ASSERT_EQ(renamed[central + 46], 'A');
    renamed[a + 30] = renamed[central + 46] = 'C';
    EXPECT_EQ(verify(renamed), 1);
    EXPECT_NE(err.str().find("member 0 (a.txt): its archive's entry is named C.TXT"), std::string::npos) << err.str();

    byte_buffer longer = package;
    longer.push_back(0);
    EXPECT_EQ(verify(longer), 1);
    EXPECT_NE(err.str().find("the last member's data end at"), std::string::npos) << err.str();
}

TEST_F(Qelpack, BadManifestNamesItsLineAndWritesNothing)
{
    write(dir / "a.txt", "x");
    std::string groups, builds;
    for (int i = 1; i <= 21; ++i) groups += "[group g" + std::to_string(i) + "]\n";
    for (int i = 1; i <= 65; ++i) builds += std::to_string(3000 + i) + "\n";
    const std::pair<std::string, std::string> cases[] = {
        {"[package]\ncolour = red\n", "manifest.ini:2: unknown key 'colour' in [package]"},
        {"[package]\nwelcome_text = " + std::string(512, 'w') + "\n",
         "manifest.ini:2: welcome_text is 512 bytes, at most 511"},
        {"\n[members]\na.txt = a.txt\nb.txt = missing.txt\n", "manifest.ini:4: source file 'missing.txt' not found"},
        {groups, "manifest.ini:21: too many groups, at most 20"},
        {"[accepted_builds]\n" + builds, "manifest.ini:66: too many numbers in [accepted_builds], at most 64"},
        {"[members]\n..\\evil = a.txt\n", "manifest.ini:2: unsafe member name '..\\evil'"},
        {"[members]\nsub/a.txt = a.txt\nSUB\\A.TXT = a.txt\n",
         "manifest.ini:3: member 'SUB\\A.TXT' given twice, first on line 2"},
        {"[package]\ndirect_member = b.txt\n[members]\na.txt = a.txt\n",
         "manifest.ini:2: direct_member 'b.txt' names no member"},
        {"[merge_list_b]\nA.TXT\n[members]\na.txt = a.txt\n",
         "manifest.ini:4: a.txt is merged in place, so it must be a database file with long headers"},
    };
    for (const auto& [manifest, message] : cases) {
        EXPECT_EQ(build(manifest), 1) << message;
        EXPECT_EQ(err.str().rfind(dir.string() + "/" + message, 0), 0u) << err.str();
        EXPECT_EQ(files(), (std::set<std::string>{"a.txt", "manifest.ini"})) << message;
    }
    // One step inside each limit builds.
    groups.erase(groups.rfind("[group"));
    builds.erase(builds.rfind('\n', builds.size() - 2) + 1);
    EXPECT_EQ(
        build("[package]\nwelcome_text = " + std::string(511, 'w') + "\n" + groups + "[accepted_builds]\n" + builds), 0)
        << err.str();
    EXPECT_EQ(verify_command((dir / "OUT.EXE").string(), out, err), 0) << err.str();  // no members at all
}

// The databases of the merge lists are read in place from the package: stored as they are.
TEST_F(Qelpack, MergeListDatabasesStoredRaw)
{
    std::string database(long_file_header_size, '\0');
    std::memcpy(database.data(), "QELDB-25", 9);
    database += std::string(26 + 5, 'r');  // the bytes after the file header are not examined
    write(dir / "extra.db", database);
    write(dir / "notes.txt", std::string(400, 'n'));
    ASSERT_EQ(build("[merge_list_a]\nidb\\extra.db\n[members]\nidb\\extra.db = extra.db\nnotes.txt = notes.txt\n"), 0)
        << err.str();
    const read_back package(contents(dir / "OUT.EXE"));
    ASSERT_EQ(package.state.file_table->count, 2);
    const package_member& raw = *package.state.file_table->members[0];
    EXPECT_EQ(raw.stored_size, database.size());
    EXPECT_EQ(raw.unpacked_size, database.size());
    EXPECT_EQ(package.state.merge_bytes_a, database.size());
    const byte_buffer bytes = contents(dir / "OUT.EXE");
    EXPECT_EQ(std::string(bytes.begin() + raw.data_offset, bytes.begin() + raw.data_offset + raw.stored_size), database);
    EXPECT_NE(package.state.file_table->members[1]->stored_size, 400u) << "other members are archives";
    out.str("");
    EXPECT_EQ(list_command((dir / "OUT.EXE").string(), false, out, err), 0);
    EXPECT_NE(out.str().find("merged in place"), std::string::npos) << out.str();
    EXPECT_EQ(verify_command((dir / "OUT.EXE").string(), out, err), 0) << err.str();
}

TEST_F(Qelpack, ResourceMarkerFoundThroughTheDirectoryAndPatched)
{
    pe_layout layout{};
    byte_buffer pe = synthetic_pe();
    ASSERT_EQ(read_pe_layout(pe, layout), "");
    EXPECT_EQ(layout.marker_offset, pe_marker_offset);  // not the decoy RCDATA 99 before it
    EXPECT_EQ(layout.image_end, pe_image_end);

    byte_buffer with_symbols = pe;  // a COFF symbol table of two entries and a 10-byte string table
    put32(with_symbols, 0x4C, pe_image_end), put32(with_symbols, 0x50, 2);
    with_symbols.resize(pe_image_end + 36 + 10, 0);
    put32(with_symbols, pe_image_end + 36, 10);
    ASSERT_EQ(read_pe_layout(with_symbols, layout), "");
    EXPECT_EQ(layout.image_end, pe_image_end + 46);

    pe.insert(pe.end(), {'R', 'S', 'o', 'l', 'd'});  // an older package behind the image is dropped
    write(dir / "stub.exe", pe);
    write(dir / "a.txt", "member");
    ASSERT_EQ(build("[package]\ntag = UPDATE-7\n[members]\na.txt = a.txt\n", (dir / "stub.exe").string()), 0)
        << err.str();
    const byte_buffer program = contents(dir / "OUT.EXE");
    EXPECT_EQ(get32(program, pe_marker_offset + 8), pe_image_end);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&program[pe_marker_offset + 12]), 16),
              std::string("UPDATE-7\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(get32(program, 0x288 + 8), 0u);  // the decoy is untouched
    EXPECT_EQ(byte_buffer(program.begin(), program.begin() + 0x2A8), byte_buffer(pe.begin(), pe.begin() + 0x2A8));
    read_back fields(program, pe_image_end);
    EXPECT_EQ(fields.member(0).data_offset + fields.member(0).stored_size, program.size());
    EXPECT_EQ(verify_command((dir / "OUT.EXE").string(), out, err), 0) << err.str();

    fs::remove(dir / "OUT.EXE");
    write(dir / "stub.exe", synthetic_pe(101));
    EXPECT_EQ(build("[members]\na.txt = a.txt\n", (dir / "stub.exe").string()), 1);
    EXPECT_NE(err.str().find("no RCDATA 100"), std::string::npos) << err.str();
    EXPECT_EQ(files(), (std::set<std::string>{"a.txt", "manifest.ini", "stub.exe"}));
}

}  // namespace
