// The unzip library's command record as SETUP.EXE fills it, read byte by byte at its offsets by
// the stand-in library (tools/peers/unzip_standin), which keeps the last record it was given.
// The same expectations hold in the 32-bit and the 64-bit build; the second also proves that an
// address above 4 GiB stops the member with fatal error 10 instead of reaching the library cut.
#include <windows.h>

#include <cstring>
#include <string>

#include "install/extract.h"
#include "install_fixture.h"

namespace {

std::uint32_t get32(const unsigned char* record, unsigned offset)
{
    std::uint32_t value;
    std::memcpy(&value, record + offset, 4);
    return value;
}

std::uint64_t address(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }

class UnzipRecord : public InstallFixture {
protected:
    const unsigned char* (__stdcall* last_command)() = nullptr;

    void SetUp() override
    {
        InstallFixture::SetUp();
        lstrcpynA(setup.target_dir, base.c_str(), sizeof setup.target_dir);
        ASSERT_TRUE(CopyFileA("E:\\testbin\\standin\\dunzip32.dll", path("dunzip32.dll").c_str(), FALSE));
        ASSERT_EQ(load_unzip_library(), 1) << "dunzip32.dll, as no dunzipnt.dll is there";
        last_command = reinterpret_cast<const unsigned char*(__stdcall*)()>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("dunzip32.dll"), "last_command")));
        ASSERT_TRUE(last_command);
    }
    void TearDown() override
    {
        unload_unzip_library();
        InstallFixture::TearDown();
    }
};

TEST_F(UnzipRecord, EveryFieldLiesAtItsOffset)
{
    const std::string archive = path("missing.tmp"), directory = base;
    EXPECT_EQ(run_unzip(archive.c_str(), directory.c_str()), 61) << "the stand-in cannot open a missing archive";
    const unsigned char* record = last_command();
    EXPECT_EQ(get32(record, 0), 110u);
    EXPECT_EQ(get32(record, 4), 8u);
    EXPECT_EQ(get32(record, 8), address(archive.c_str()));
    EXPECT_EQ(get32(record, 24), address(directory.c_str()));
    for (unsigned offset : {36u, 40u, 48u, 52u}) EXPECT_EQ(get32(record, offset), 1u) << "option word at " << offset;
    EXPECT_EQ(get32(record, 68), address(reinterpret_cast<const void*>(&unzip_callback_a)));
    EXPECT_EQ(get32(record, 100), address(reinterpret_cast<const void*>(&unzip_callback_b)));
    for (unsigned offset = 0; offset < 110; ++offset) {
        const bool filled = offset < 12 || (offset >= 24 && offset < 28) || (offset >= 36 && offset < 44) ||
                            (offset >= 48 && offset < 56) || (offset >= 68 && offset < 72) ||
                            (offset >= 100 && offset < 104);
        if (!filled) {
            EXPECT_EQ(record[offset], 0) << "byte " << offset;
        }
    }

    // The defaults routine's own values, which run_unzip then overwrites.
    unsigned char defaults[110];
    fill_unzip_defaults(defaults);
    EXPECT_EQ(get32(defaults, 4), 9u);
    EXPECT_EQ(get32(defaults, 20), 0xFFFFFFFFu);
    EXPECT_EQ(get32(defaults, 56), 1u);
}

TEST_F(UnzipRecord, AnAddressAbove4GiBStopsTheMember)
{
    if (sizeof(void*) == 4) GTEST_SKIP() << "a 32-bit process has no address above 4 GiB";
    void* high = nullptr;
    for (std::uint64_t at = 0x100000000ull; !high && at < 0x10000000000ull; at *= 2)
        high = VirtualAlloc(reinterpret_cast<void*>(static_cast<std::uintptr_t>(at)), 4096, MEM_RESERVE | MEM_COMMIT,
                            PAGE_READWRITE);
    ASSERT_TRUE(high);
    ASSERT_GE(address(high), 0x100000000ull);
    auto* directory = static_cast<char*>(high);
    std::strcpy(directory, base.c_str());

    const std::string archive = path("missing.tmp");
    EXPECT_EQ(run_unzip(archive.c_str(), base.c_str()), 61);  // the stand-in keeps this record
    EXPECT_EQ(run_unzip(archive.c_str(), directory), unzip_address_out_of_reach);
    EXPECT_EQ(get32(last_command(), 24), address(base.c_str())) << "the library was not called";

    // Through write_out_member: an empty member, its archive written, then refused before unpacking.
    make_file("package.bin", "");
    setup.package_handle = _lopen(path("package.bin").c_str(), OF_READ);
    ASSERT_NE(setup.package_handle, HFILE_ERROR);
    package_member member{0, 0, 0};
    const std::string archive_path = path("dec1.tmp"), final_path = path("EMPTY.TXT");
    EXPECT_EQ(write_out_member(&member, archive_path.c_str(), directory, final_path.c_str(), 0, nullptr, 0, 1, nullptr, nullptr), 0);
    EXPECT_EQ(setup.fatal_error, 10);
    EXPECT_TRUE(exists("dec1.tmp")) << "the archive stays, as after any stop before unpacking";
    _lclose(setup.package_handle);
    setup.package_handle = HFILE_ERROR;
    discard_spare_archive();
    VirtualFree(high, 0, MEM_RELEASE);
}

}  // namespace
