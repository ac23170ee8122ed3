// The setup sequence: settles the client's directory and runs the install stage.
#pragma once

void run_setup_sequence();
