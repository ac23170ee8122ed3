#include "package/package_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/memory.h"

namespace {

using bytes = std::vector<unsigned char>;

struct memory_source {
    const bytes& data;
    std::size_t position = 0;

    static bool read(void* context, void* buffer, std::uint32_t count)
    {
        auto* self = static_cast<memory_source*>(context);
        if (self->data.size() - self->position < count) return false;
        std::memcpy(buffer, self->data.data() + self->position, count);
        self->position += count;
        return true;
    }
};

// One package read into a state of its own; everything is released again at the end.
struct read_result {
    run_state state = initial_run_state();
    package_reserved reserved{};
    std::uint16_t error = 0;

    read_result(const bytes& data, std::uint32_t start = 0, run_state preset = initial_run_state(),
                std::uint64_t file_size = header_only)
        : state(preset)
    {
        memory_source source{data};
        package_source from{&source, memory_source::read};
        error = read_package_fields(from, start, file_size, state, reserved);
    }
    ~read_result() { release_package_fields(state, reserved); }
    const package_member* member(int i) const { return state.file_table->members[i]; }
};

bytes encode(const run_state& state, const package_reserved& reserved, const std::vector<member_entry>& members)
{
    return encode_package_header(state, reserved, members);
}

// A package with every kind of field filled in; owns its lists.
struct full_package {
    run_state state = initial_run_state();
    package_reserved reserved{};
    std::vector<member_entry> members{{"readme.txt", 1200, 700}, {"idb\\merge.db", 100, 60}};

    full_package()
    {
        std::strcpy(state.product_name, "Qelmora Update");
        std::strcpy(state.welcome_text, "Welcome.\nThis updates Qelmora.");
        std::strcpy(reserved.number_17, "12");
        std::strcpy(reserved.number_18, " -300");
        std::strcpy(reserved.switch_19, "no");
        std::strcpy(reserved.switch_20, "YESS");
        state.check_system = 1;
        state.db_version = 0x0203;
        state.required_msie_build = 1300;
        append_pair(state.rename_list, "*.BAK", "*.OLD");
        append_name(state.merge_list_a, "IDB\\MERGE.DB");
        append_name(state.msie_skip_list, "skip");
        state.accepted_builds = {2, {1712, 1713}};
        reserved.numbers_26 = static_cast<std::uint32_t*>(alloc_block(8));
        reserved.numbers_26_count = 2;
        reserved.numbers_26[0] = 0xDEADBEEF;
        reserved.group_count = 1;
        group_record& group = reserved.groups[0];
        std::strcpy(group.name, "tools");
        group.value = 7;
        for (std::uint32_t value : {1u, 2u}) {
            auto* node = static_cast<group_value_node*>(alloc_block(sizeof(group_value_node)));
            *node = {value, group.values};
            group.values = node;
            ++group.value_count;
        }
        auto* name = static_cast<group_name_node*>(alloc_block(sizeof(group_name_node)));
        std::strcpy(name->name, "qel.exe");
        group.names = name;
        group.name_count = 1;
    }
    ~full_package() { release_package_fields(state, reserved); }
    bytes encoded() const { return encode(state, reserved, members); }
};

TEST(PackageFormat, WorkedExampleByteForByte)
{
    run_state state = initial_run_state();
    package_reserved reserved{};
    std::strcpy(state.product_name, "Sample Add-on");
    const bytes written = encode(state, reserved, {{"readme.txt", 1200, 700}});

    bytes expected = {'R', 'S', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0D, 0};
    for (char c : std::string("Sample Add-on")) expected.push_back(static_cast<unsigned char>(c));
    expected.insert(expected.end(), 70, 0);  // thirty-five empty u16 fields
    expected.insert(expected.end(), {1, 0, 0x0A, 0});
    for (char c : std::string("readme.txt")) expected.push_back(static_cast<unsigned char>(c));
    expected.insert(expected.end(), {0xB0, 0x04, 0, 0, 0xBC, 0x02, 0, 0});
    ASSERT_EQ(written, expected);
    ASSERT_EQ(written.size(), 119u);

    const read_result read(written, 0x17600);
    ASSERT_EQ(read.error, 0);
    EXPECT_STREQ(read.state.product_name, "Sample Add-on");
    ASSERT_EQ(read.state.file_table->count, 1);
    EXPECT_STREQ(member_name(read.member(0)), "readme.txt");
    EXPECT_EQ(read.member(0)->unpacked_size, 1200u);
    EXPECT_EQ(read.member(0)->stored_size, 700u);
    EXPECT_EQ(read.member(0)->data_offset, 0x17600u + 119);
    EXPECT_EQ(read.state.file_table->total_unpacked, 1200u);
}

TEST(PackageFormat, EveryFieldSurvivesARoundTrip)
{
    const full_package package;
    const bytes written = package.encoded();
    const read_result read(written);
    ASSERT_EQ(read.error, 0);
    EXPECT_EQ(encode(read.state, read.reserved, package.members), written);

    EXPECT_STREQ(read.state.welcome_text, "Welcome.\nThis updates Qelmora.");
    EXPECT_EQ(read.reserved.number_17_value, 12);
    EXPECT_EQ(read.reserved.number_18_value, -300);
    EXPECT_EQ(read.reserved.switch_a, 1);  // field 20 sets both switches
    EXPECT_EQ(read.reserved.switch_b, 1);
    EXPECT_EQ(read.state.db_version, 0x0203);
    EXPECT_EQ(read.state.required_msie_build, 1300u);
    EXPECT_STREQ(read.state.rename_list.second[0], "*.OLD");
    EXPECT_EQ(read.state.accepted_builds.values[1], 1713);
    EXPECT_EQ(read.reserved.numbers_26[0], 0xDEADBEEFu);
    // In memory the group's values run newest first.
    EXPECT_EQ(read.reserved.groups[0].values->value, 2u);
    EXPECT_EQ(read.reserved.groups[0].values->next->value, 1u);
}

// Cut anywhere, the package fails, with the number of the field where it was cut.
TEST(PackageFormat, EveryShortReadFailsWithItsFieldsNumber)
{
    const full_package package;
    const bytes whole = package.encoded();
    std::vector<std::uint16_t> numbers_in_order;
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const read_result read(bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
        ASSERT_NE(read.error, 0) << "a package cut at " << length << " bytes was read";
        if (numbers_in_order.empty() || numbers_in_order.back() != read.error) numbers_in_order.push_back(read.error);
    }
    // Magic, fields 2-16, 17, 18, 19, 20, 21-42, group record, member count, member entries.
    EXPECT_EQ(numbers_in_order, (std::vector<std::uint16_t>{18, 5, 34, 31, 32, 33, 5, 6, 5, 6}));
    EXPECT_EQ(read_result(bytes{'R', 'X'}).error, 18);
}

// A download cut short: the members' data must end within the file, checked as the header is read.
TEST(PackageFormat, MembersDataPastTheFilesEndFailsWithError8)
{
    const full_package package;
    const bytes header = package.encoded();
    const std::uint64_t whole_file = 0x17600 + header.size() + 700 + 60;
    EXPECT_EQ(read_result(header, 0x17600, initial_run_state(), whole_file).error, 0);
    EXPECT_EQ(read_result(header, 0x17600, initial_run_state(), whole_file - 1).error, 8);
    EXPECT_EQ(read_result(header, 0x17600, initial_run_state(), 0x17600 + header.size()).error, 8);
}

TEST(PackageFormat, TextsUpToCapacityLessOne)
{
    run_state state = initial_run_state();
    package_reserved reserved{};
    std::memset(state.welcome_text, 'w', 511);
    bytes written = encode(state, reserved, {});
    EXPECT_EQ(read_result(written).error, 0);
    EXPECT_EQ(std::strlen(read_result(written).state.welcome_text), 511u);

    // One byte more than the buffer holds: the length word says 512.
    const std::size_t welcome_at = 2 + 2 * 7;  // after the magic and the seven empty fields 2 to 8
    ASSERT_EQ(written[welcome_at] | written[welcome_at + 1] << 8, 511);
    written[welcome_at] = 0x00;
    written[welcome_at + 1] = 0x02;
    written.insert(written.begin() + static_cast<std::ptrdiff_t>(welcome_at + 2), 'w');
    EXPECT_EQ(read_result(written).error, 5);

    state.welcome_text[0] = '\0';
    std::strcpy(reserved.number_17, "12345");
    EXPECT_EQ(read_result(encode(state, reserved, {})).error, 0);
    bytes six = encode(state, reserved, {});
    const std::size_t field_17 = 2 + 2 * 15;
    six[field_17] = 6;
    six.insert(six.begin() + static_cast<std::ptrdiff_t>(field_17 + 2), '6');
    EXPECT_EQ(read_result(six).error, 34) << "field 17 has its own number";
}

TEST(PackageFormat, CommandLineFlagsAgainstThePackage)
{
    run_state state = initial_run_state();
    package_reserved reserved{};
    state.skip_modem = 0;
    state.write_version_inf = 0;
    const bytes written = encode(state, reserved, {});
    run_state preset = initial_run_state();
    preset.skip_modem = 1;         // -M
    preset.write_version_inf = 1;  // -V
    const read_result read(written, 0, preset);
    EXPECT_EQ(read.state.skip_modem, 1) << "the package cannot clear -M";
    EXPECT_EQ(read.state.write_version_inf, 0) << "the package's field replaces -V";
}

TEST(PackageFormat, MergeSumsAndDataOffsets)
{
    run_state state = initial_run_state();
    package_reserved reserved{};
    append_name(state.merge_list_a, "IDB\\Merge.db");
    append_name(state.merge_list_a, "idb\\MERGE.DB");
    append_name(state.merge_list_b, "idb\\merge.db");
    append_name(state.merge_list_b, "other.db");
    const std::vector<member_entry> members{{"idb\\merge.db", 4000, 700}, {"other.db", 25, 300}};
    const bytes written = encode(state, reserved, members);
    release_package_fields(state, reserved);

    const std::uint32_t start = 5000 - static_cast<std::uint32_t>(written.size());  // data area at 5000
    const read_result read(written, start);
    ASSERT_EQ(read.error, 0);
    EXPECT_EQ(read.state.merge_bytes_a, 4000u) << "a member listed twice counts once";
    EXPECT_EQ(read.state.merge_bytes_b, 4025u);
    EXPECT_EQ(read.member(0)->data_offset, 5000u);
    EXPECT_EQ(read.member(1)->data_offset, 5700u);
    EXPECT_EQ(read.state.file_table->total_unpacked, 4025u);
}

TEST(PackageFormat, FixedTablesAndUnsafeNamesAreRefused)
{
    run_state state = initial_run_state();
    package_reserved reserved{};
    reserved.group_count = group_table_capacity;  // 20 empty groups fit
    bytes groups = encode(state, reserved, {});
    EXPECT_EQ(read_result(groups).error, 0);
    const std::size_t group_count_at = groups.size() - 2 - 20 * 10 - 2;  // member count, groups, then the count
    ASSERT_EQ(groups[group_count_at], 20);
    groups[group_count_at] = 21;
    groups.insert(groups.end() - 2, 10, 0);  // a 21st empty group record
    EXPECT_EQ(read_result(groups).error, 6) << "21 groups would not fit the table";
    reserved.group_count = 0;

    bytes builds = encode(state, reserved, {});
    // The accepted builds' count lies behind fields 2-20 (19 empty texts), 21-25, 26 and lists 27-33.
    const std::size_t builds_at = 2 + 2 * 19 + 2 * 5 + 2 + 2 * 7;
    builds[builds_at] = 65;
    builds.insert(builds.begin() + static_cast<std::ptrdiff_t>(builds_at + 2), 130, 0);
    EXPECT_EQ(read_result(builds).error, 5) << "65 values would not fit the list";

    // "..." and ".. " are ".." to Windows, which drops the dots and blanks that end a name.
    for (const char* name : {"C:\\WINDOWS\\x.dll", "\\x.dll", "/x.dll", "..\\x.dll", "a\\..\\..\\x", "a/../b", "", "..",
                             "...", "a\\...\\b", ".. \\x.dll", ". .\\x"})
        EXPECT_EQ(read_result(encode(state, reserved, {{name, 1, 1}})).error, 6) << '"' << name << '"';
    for (const char* name : {"a..b\\c", "system\\x.dll", ".x\\y", "idb\\merge.db", "a.\\b"})
        EXPECT_EQ(read_result(encode(state, reserved, {{name, 1, 1}})).error, 0) << name;
    EXPECT_EQ(read_result(encode(state, reserved, {{std::string("a\0b", 3), 1, 1}})).error, 6);
}

TEST(PackageFormat, EverythingReadIsReleasedAlsoAfterAFailure)
{
    const full_package package;
    const bytes whole = package.encoded();
    const auto before = blocks_in_use;
    for (std::size_t length : {whole.size(), whole.size() - 3, whole.size() / 2}) {
        {
            const read_result read(bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
        }
        EXPECT_EQ(blocks_in_use, before) << "after reading " << length << " bytes";
    }
}

}  // namespace
