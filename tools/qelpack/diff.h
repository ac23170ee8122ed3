// qelpack diff: an update made from two client trees. Every file of NEW that OLD lacks or holds
// with other bytes becomes a member of a manifest in OUTDIR (its bytes copied beside it), every
// file of OLD that NEW lacks an entry of [target_dir_deletions], and every record of NEW's
// IDB\MAIN.IDX that OLD's lacks or holds otherwise a record of OUTDIR's IDB\MERGE.DB; the
// versions come from the two version records. OUTDIR appears whole or not at all.
#pragma once

#include <ostream>
#include <string>

struct diff_request {
    std::string old_tree;
    std::string new_tree;
    std::string output;
    std::string manifest_base;  // a manifest whose texts, lists, groups, rules and members go first
    bool json = false;
    bool progress = false;  // a progress line on `err` while the trees are compared
};

int diff_command(const diff_request& request, std::ostream& out, std::ostream& err);
