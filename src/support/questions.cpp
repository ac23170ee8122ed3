#include "support/questions.h"

namespace {

retry_question installed_question = nullptr;

}  // namespace

void set_retry_question(retry_question ask) { installed_question = ask; }

int ask_retry_question(const char* text) { return installed_question ? installed_question(text) : 0; }
