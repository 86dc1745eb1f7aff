#include "lib/dl_list/dl_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct item {
    int key;
    int seq;
    dl_list link;
};

std::vector<int> seqs(const dl_list *head) {
    std::vector<int> v;
    for (const dl_list *p = head->next; p != head; p = p->next)
        v.push_back(dl_list_entry(const_cast<dl_list *>(p), item, link)->seq);
    return v;
}

int by_key(const dl_list *a, const dl_list *b) {
    return dl_list_entry(const_cast<dl_list *>(a), item, link)->key -
           dl_list_entry(const_cast<dl_list *>(b), item, link)->key;
}

TEST(DlList, EmptyHeadPointsToItself) {
    dl_list head;
    dl_list_init(&head);
    EXPECT_TRUE(dl_list_empty(&head));
    EXPECT_EQ(dl_list_len(&head), 0u);
    EXPECT_EQ(dl_list_first(&head), nullptr);
}

TEST(DlList, InsertionPlacesAndRemoval) {
    item a{0, 1, {}}, b{0, 2, {}}, c{0, 3, {}}, d{0, 4, {}};
    dl_list head;
    dl_list_init(&head);
    dl_list_append(&head, &b.link);
    dl_list_prepend(&head, &a.link);
    dl_list_append(&head, &d.link);
    dl_list_insert_before(&d.link, &c.link);
    EXPECT_EQ(seqs(&head), (std::vector<int>{1, 2, 3, 4}));
    dl_list_remove(&b.link);
    dl_list_remove(&b.link); // a second removal is harmless
    EXPECT_EQ(seqs(&head), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(dl_list_len(&head), 3u);
    // the backward links agree with the forward ones
    EXPECT_EQ(head.prev, &d.link);
    EXPECT_EQ(d.link.prev, &c.link);
    EXPECT_EQ(c.link.prev, &a.link);
}

TEST(DlList, SpliceKeepsOrderAndEmptiesSource) {
    item a{0, 1, {}}, b{0, 2, {}}, c{0, 3, {}};
    dl_list x, y;
    dl_list_init(&x);
    dl_list_init(&y);
    dl_list_append(&x, &a.link);
    dl_list_append(&y, &b.link);
    dl_list_append(&y, &c.link);
    dl_list_splice_tail(&x, &y);
    EXPECT_EQ(seqs(&x), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(dl_list_empty(&y));
    EXPECT_EQ(x.prev, &c.link);
}

TEST(DlList, SortIsStableForEveryLength) {
    for (int n = 0; n < 40; ++n) {
        std::vector<item> items(static_cast<std::size_t>(n));
        dl_list head;
        dl_list_init(&head);
        for (int i = 0; i < n; ++i) {
            items[static_cast<std::size_t>(i)] = {(i * 7) % 5, i, {}};
            dl_list_append(&head, &items[static_cast<std::size_t>(i)].link);
        }
        dl_list_sort(&head, by_key);
        std::vector<int> got = seqs(&head);
        ASSERT_EQ(got.size(), static_cast<std::size_t>(n));
        for (std::size_t i = 1; i < got.size(); ++i) {
            const item &p = items[static_cast<std::size_t>(got[i - 1])];
            const item &q = items[static_cast<std::size_t>(got[i])];
            ASSERT_TRUE(p.key < q.key || (p.key == q.key && p.seq < q.seq)) << "n=" << n;
        }
        // backward links rebuilt
        std::size_t back = 0;
        for (dl_list *p = head.prev; p != &head; p = p->prev)
            ++back;
        EXPECT_EQ(back, static_cast<std::size_t>(n));
    }
}

} // namespace
