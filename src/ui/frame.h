// The full-screen frame window behind every dialog, titled with the product's name.
#pragma once

constexpr const char* frame_class_name = "_QELSETUP_Frame";

int create_frame(const char* title);
int destroy_frame();
