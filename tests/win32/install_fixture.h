// Shared by the install tests: a run state filled by hand and released as the package reader
// releases its own, a folder D:\<suite>\<test> with file helpers, and the lines the code logged,
// read through crash mode, in which every line goes straight to update.log on the first fixed drive.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "install/cleanup.h"
#include "package/package_format.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/run_state.h"

class InstallFixture : public ::testing::Test {
protected:
    std::string base;

    void SetUp() override
    {
        setup = initial_run_state();
        setup.crash_mode = 1;
        logged();  // drops what an earlier program left in update.log
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        CreateDirectoryA((std::string("D:\\") + test->test_suite_name()).c_str(), nullptr);
        base = std::string("D:\\") + test->test_suite_name() + "\\" + test->name();
        CreateDirectoryA(base.c_str(), nullptr);
    }
    void TearDown() override
    {
        package_reserved reserved{};
        release_package_fields(setup, reserved);
        release_deferred_moves();
        logged();
        SetCurrentDirectoryA("C:\\");
    }

    void set_members(std::initializer_list<std::pair<const char*, std::uint32_t>> members)
    {
        auto* table = static_cast<member_table*>(alloc_block(sizeof(member_table) + members.size() * sizeof(void*)));
        table->members = reinterpret_cast<package_member**>(table + 1);
        for (const auto& [name, size] : members) {
            auto* member = static_cast<package_member*>(alloc_block(sizeof(package_member) + std::strlen(name) + 1));
            member->unpacked_size = size;
            std::strcpy(member_name(member), name);
            table->members[table->count++] = member;
        }
        setup.file_table = table;
    }

    // The lines logged since the last call.
    static std::vector<std::string> logged()
    {
        close_log();
        const std::string all = read(fixed_drive_log_path());
        DeleteFileA(fixed_drive_log_path());
        std::vector<std::string> lines;
        for (std::size_t start = 0, end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(all.substr(start, end - start));
        return lines;
    }
    static std::string read(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return file ? text.str() : "(none)";
    }

    std::string path(const std::string& relative) const { return base + "\\" + relative; }
    std::string content(const std::string& relative) const { return read(path(relative)); }
    bool exists(const std::string& relative) const
    {
        return GetFileAttributesA(path(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    // Creates the file and the folders on its way.
    void make_file(const std::string& relative, const std::string& text) const
    {
        for (std::size_t slash = relative.find('\\'); slash != std::string::npos; slash = relative.find('\\', slash + 1))
            CreateDirectoryA(path(relative.substr(0, slash)).c_str(), nullptr);
        std::ofstream(path(relative), std::ios::binary) << text;
    }
};
