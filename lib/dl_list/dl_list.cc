#include "lib/dl_list/dl_list.h"

void dl_list_splice_tail(dl_list *to, dl_list *from) {
    if (dl_list_empty(from))
        return;
    dl_list *first = from->next;
    dl_list *last = from->prev;
    first->prev = to->prev;
    to->prev->next = first;
    last->next = to;
    to->prev = last;
    dl_list_init(from);
}

std::size_t dl_list_len(const dl_list *head) {
    std::size_t n = 0;
    for (const dl_list *p = head->next; p != head; p = p->next)
        ++n;
    return n;
}

// Bottom-up merge sort on the members viewed as a singly linked chain through
// `next`; the `prev` links are rebuilt at the end. Taking from the left run on
// ties keeps the sort stable.
void dl_list_sort(dl_list *head, dl_list_cmp_fn cmp) {
    if (dl_list_empty(head) || head->next->next == head)
        return;
    head->prev->next = nullptr;
    dl_list *chain = head->next;
    for (std::size_t width = 1;; width *= 2) {
        dl_list *result = nullptr;
        dl_list **tail = &result;
        std::size_t merges = 0;
        dl_list *p = chain;
        while (p) {
            ++merges;
            dl_list *q = p;
            std::size_t psize = 0;
            while (q && psize < width) {
                q = q->next;
                ++psize;
            }
            std::size_t qsize = width;
            while (psize > 0 || (qsize > 0 && q)) {
                dl_list *e;
                if (psize == 0) {
                    e = q;
                    q = q->next;
                    --qsize;
                } else if (qsize == 0 || !q || cmp(p, q) <= 0) {
                    e = p;
                    p = p->next;
                    --psize;
                } else {
                    e = q;
                    q = q->next;
                    --qsize;
                }
                *tail = e;
                tail = &e->next;
            }
            p = q;
        }
        *tail = nullptr;
        chain = result;
        if (merges <= 1)
            break;
    }
    dl_list *prev = head;
    for (dl_list *e = chain; e; e = e->next) {
        e->prev = prev;
        prev->next = e;
        prev = e;
    }
    prev->next = head;
    head->prev = prev;
}
