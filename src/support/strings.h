// Texts of the string table, fetched by id. Both results live in shared static buffers:
// use or copy a result before the next call of the same function.
#pragma once

constexpr int joined_text_capacity = 512;
constexpr int short_text_capacity = 50;

// The texts of `count` string ids joined as they are stored, cut at 511 characters.
const char* resource_text(int count, ...);

// One text of at most 49 characters.
const char* short_resource_text(unsigned id);
