#include "tests/store/fp_compiled.h"

#include "tests/support/temp_file.h"

#include "automata/tirvo_charset.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"

#include <cstdio>

fp_compiled::fp_compiled(const std::string &text, const std::string &out, fp_compile_setup setup,
                         const std::string &name)
    : input_name(name), out_path(out) {
    tirvo_charset_init_predefined();
    tirvo_compile_ctx_init(&ctx);
    FILE *f = text_as_file(text);
    if (!f)
        return;
    tirvo_compile_set_input(&ctx, f, input_name.c_str());
    tirvo_compile_set_quiet(&ctx);
    tirvo_compile_set_dfa_file_name(&ctx, out_path.c_str());
    if (setup)
        setup(&ctx);
    status = tirvo_compile_run(&ctx);
}

fp_compiled::~fp_compiled() {
    tirvo_compile_cleanup(&ctx);
}

const tirvo_regex_entry *fp_compiled::regex_entry(int id) const {
    dl_list_for_each(pos, &ctx.regex_entries) {
        const auto *e = dl_list_entry(pos, tirvo_regex_entry, list);
        if (e->id == id)
            return e;
    }
    return nullptr;
}

const tirvo_varexp_entry *fp_compiled::varexp_entry(int id) const {
    dl_list_for_each(pos, &ctx.varexp_entries) {
        const auto *e = dl_list_entry(pos, tirvo_varexp_entry, list);
        if (e->id == id)
            return e;
    }
    return nullptr;
}

std::vector<const superstate *> fp_superstates(const superstates *ss) {
    std::vector<const superstate *> v;
    dl_list_for_each(pos, &ss->superstate_list) {
        v.push_back(dl_list_entry(pos, superstate, list));
    }
    return v;
}

uint32_t fp_superstate_target(const superstate *s, uint32_t symbol) {
    dl_list_for_each(pos, &s->arcs) {
        const auto *a = dl_list_entry(pos, superstate_arc, list);
        if (symbol >= a->first && symbol - a->first < a->len)
            return a->target->id;
    }
    return s->id;
}
