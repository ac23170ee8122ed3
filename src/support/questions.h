// The one question the base asks the user, when memory or disk space runs out: Retry or Cancel.
// The user interface asks it (start-up installs ui's box with set_retry_question, and so do the
// test programs); until then every such question is answered Cancel.
#pragma once

using retry_question = int (*)(const char* text);

void set_retry_question(retry_question ask);

// Nonzero when the user chose Retry.
int ask_retry_question(const char* text);
