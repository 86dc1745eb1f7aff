#include "lib/avl/private/avl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <deque>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// A record kept in a tree: the node header, then the key as payload.
struct item {
    qle_avl_node node;
    int key;
};
static_assert(offsetof(item, key) == sizeof(qle_avl_node));

int key_of(const qle_avl_node *n) {
    return reinterpret_cast<const item *>(n)->key;
}

int cmp_int(const void *a, const void *b) {
    int x = *static_cast<const int *>(a);
    int y = *static_cast<const int *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

// The tree as text, root first: "key:height", followed by "(left,right)"
// when the node has a child, "-" for an absent child.
std::string shape(const qle_avl_node *n) {
    if (!n)
        return "-";
    std::string s = std::to_string(key_of(n)) + ":" + std::to_string(n->height);
    if (n->left || n->right) {
        s += '(';
        s += shape(n->left);
        s += ',';
        s += shape(n->right);
        s += ')';
    }
    return s;
}

// Checks the tree independently of qle_avl_tree_check: keys strictly
// between `lo` and `hi`, every height one more than the greater child
// height, children heights at most 1 apart. Returns the height, or -1.
int validate(const qle_avl_node *n, long lo, long hi) {
    if (!n)
        return 0;
    if (key_of(n) <= lo || key_of(n) >= hi)
        return -1;
    int lh = validate(n->left, lo, key_of(n));
    int rh = validate(n->right, key_of(n), hi);
    if (lh < 0 || rh < 0 || lh - rh > 1 || rh - lh > 1 || n->height != std::max(lh, rh) + 1)
        return -1;
    return n->height;
}

bool valid(const qle_avl_tree *t) {
    return validate(t->root, -1000000, 1000000) >= 0;
}

// What a walk callback saw; a walk's user pointer points here.
struct walk_log {
    qle_avl_tree *tree = nullptr; // the tree every call must name
    std::vector<int> keys;        // keys visited, in order
    size_t stop_at = 0;           // 1-based call that returns stop_value; 0: never
    int stop_value = 0;
};

int log_node(qle_avl_tree *tree, qle_avl_node *node, void *user) {
    auto *log = static_cast<walk_log *>(user);
    EXPECT_EQ(tree, log->tree);
    log->keys.push_back(key_of(node));
    return log->keys.size() == log->stop_at ? log->stop_value : 0;
}

std::vector<int> destroyed;
void record_destroyed(qle_avl_node *node) {
    destroyed.push_back(key_of(node));
}

// A tree over records owned by the fixture; records never move.
class AvlTest : public ::testing::Test {
  protected:
    void SetUp() override { qle_avl_tree_init(&tree, cmp_int); }

    item *make(int key) {
        item &it = items.emplace_back();
        qle_avl_node_init(&it.node);
        it.key = key;
        return &it;
    }
    int insert(int key) { return qle_avl_tree_insert(&tree, &make(key)->node); }
    void insert_all(const std::vector<int> &keys) {
        for (int k : keys)
            ASSERT_EQ(insert(k), 0) << k;
    }
    std::vector<int> walk(int (*fn)(qle_avl_tree *, qle_avl_walk_fn, void *), int expect_rc = 0) {
        walk_log log;
        log.tree = &tree;
        EXPECT_EQ(fn(&tree, log_node, &log), expect_rc);
        return log.keys;
    }

    qle_avl_tree tree{};
    std::deque<item> items;
};

std::vector<int> range(int from, int to) {
    std::vector<int> v(static_cast<size_t>(to - from + 1));
    std::iota(v.begin(), v.end(), from);
    return v;
}

std::vector<int> times10(std::vector<int> v) {
    for (int &k : v)
        k *= 10;
    return v;
}

const std::string tree_1_to_7 = "4:3(2:2(1:1,3:1),6:2(5:1,7:1))";

struct insert_case {
    const char *name;
    std::vector<int> keys;
    std::string shape;
};

const insert_case insert_cases[] = {
    {"ascending_1_to_7", range(1, 7), tree_1_to_7},
    {"descending_7_to_1", {7, 6, 5, 4, 3, 2, 1}, tree_1_to_7},
    {"no_rotation_needed", {4, 2, 6, 1, 3, 5, 7, 0}, "4:4(2:3(1:2(0:1,-),3:1),6:2(5:1,7:1))"},
    {"single_rotation_left", {1, 2, 3}, "2:2(1:1,3:1)"},
    {"single_rotation_right", {3, 2, 1}, "2:2(1:1,3:1)"},
    {"double_rotation_left_right", {3, 1, 2}, "2:2(1:1,3:1)"},
    {"double_rotation_right_left", {1, 3, 2}, "2:2(1:1,3:1)"},
    {"single_right_moves_subtree", {50, 25, 75, 10, 30, 5}, "25:3(10:2(5:1,-),50:2(30:1,75:1))"},
    {"single_left_moves_subtree", {50, 25, 75, 60, 90, 95}, "75:3(50:2(25:1,60:1),90:2(-,95:1))"},
    {"double_left_right_moves_subtrees",
     {50, 25, 75, 10, 30, 27},
     "30:3(25:2(10:1,27:1),50:2(-,75:1))"},
    {"double_right_left_moves_subtrees",
     {50, 25, 75, 70, 90, 73},
     "70:3(50:2(25:1,-),75:2(73:1,90:1))"},
    {"rotation_below_root", range(1, 9), "4:4(2:2(1:1,3:1),6:3(5:1,8:2(7:1,9:1)))"},
};

TEST_F(AvlTest, InsertRebalances) {
    for (const insert_case &c : insert_cases) {
        SCOPED_TRACE(c.name);
        qle_avl_tree_init(&tree, cmp_int);
        insert_all(c.keys);
        EXPECT_EQ(shape(tree.root), c.shape);
        EXPECT_EQ(qle_avl_tree_check(&tree), 1);
    }
}

TEST_F(AvlTest, DuplicateInsertLeavesStoredNode) {
    insert_all(range(1, 7));
    item *stored = &items[3];
    ASSERT_EQ(stored->key, 4);
    item *dup = make(4);
    EXPECT_EQ(qle_avl_tree_insert(&tree, &dup->node), QLE_AVL_DUPLICATE);
    EXPECT_EQ(QLE_AVL_DUPLICATE, -1);
    EXPECT_EQ(qle_avl_tree_find(&tree, &dup->key), &stored->node);
    EXPECT_EQ(shape(tree.root), tree_1_to_7);
    EXPECT_EQ(dup->node.left, nullptr);
    EXPECT_EQ(dup->node.right, nullptr);
    EXPECT_EQ(dup->node.height, 1);
}

TEST_F(AvlTest, Find) {
    insert_all(times10(range(1, 15)));
    for (int k = 0; k <= 160; ++k) {
        qle_avl_node *n = qle_avl_tree_find(&tree, &k);
        if (k % 10 == 0 && k >= 10 && k <= 150) {
            ASSERT_NE(n, nullptr) << k;
            EXPECT_EQ(key_of(n), k);
        } else {
            EXPECT_EQ(n, nullptr) << k;
        }
    }
}

struct delete_case {
    const char *name;
    std::vector<int> inserts;
    std::vector<int> deletes;
    std::string shape;
};

const delete_case delete_cases[] = {
    {"leaf", range(1, 7), {7}, "4:3(2:2(1:1,3:1),6:2(5:1,-))"},
    {"no_right_child", {4, 2, 6, 1, 3, 5, 7, 0}, {1}, "4:3(2:2(0:1,3:1),6:2(5:1,7:1))"},
    {"right_child_without_left_child", range(1, 7), {6}, "4:3(2:2(1:1,3:1),7:2(5:1,-))"},
    {"right_child_without_left_child_at_root", {2, 1, 3}, {2}, "3:2(1:1,-)"},
    {"successor_is_left_child_of_right_child", range(1, 7), {4}, "5:3(2:2(1:1,3:1),6:2(-,7:1))"},
    {"successor_deeper",
     range(1, 15),
     {8},
     "9:4(4:3(2:2(1:1,3:1),6:2(5:1,7:1)),12:3(10:2(-,11:1),14:2(13:1,15:1)))"},
    {"successor_deeper_with_right_child",
     [] {
         std::vector<int> v = times10(range(1, 15));
         v.push_back(95);
         return v;
     }(),
     {80},
     "90:4(40:3(20:2(10:1,30:1),60:2(50:1,70:1)),120:3(100:2(95:1,110:1),140:2(130:1,150:1)))"},
    {"single_rotation_after_delete", range(1, 7), {5, 7, 6}, "2:3(1:1,4:2(3:1,-))"},
    {"single_rotation_after_delete_mirror", range(1, 7), {1, 3, 2}, "6:3(4:2(-,5:1),7:1)"},
    {"double_rotation_after_delete", range(1, 7), {3, 7, 1, 2}, "5:2(4:1,6:1)"},
    {"last_node", {1}, {1}, "-"},
};

TEST_F(AvlTest, Delete) {
    for (const delete_case &c : delete_cases) {
        SCOPED_TRACE(c.name);
        qle_avl_tree_init(&tree, cmp_int);
        insert_all(c.inserts);
        std::set<int> remaining(c.inserts.begin(), c.inserts.end());
        for (int k : c.deletes) {
            qle_avl_node *n = qle_avl_tree_delete(&tree, &k);
            ASSERT_NE(n, nullptr) << k;
            EXPECT_EQ(key_of(n), k);
            EXPECT_EQ(qle_avl_tree_find(&tree, &k), nullptr);
            remaining.erase(k);
        }
        EXPECT_EQ(shape(tree.root), c.shape);
        EXPECT_EQ(walk(qle_avl_tree_walk), std::vector<int>(remaining.begin(), remaining.end()));
        EXPECT_EQ(qle_avl_tree_check(&tree), 1);
        EXPECT_TRUE(valid(&tree));
    }
}

TEST_F(AvlTest, DeleteAbsentKeyChangesNothing) {
    insert_all(range(1, 7));
    for (int k : {0, 8}) {
        EXPECT_EQ(qle_avl_tree_delete(&tree, &k), nullptr);
        EXPECT_EQ(shape(tree.root), tree_1_to_7);
    }
}

// Walks of the tree of 1..8 inserted in order:
//          4
//      2       6
//     1 3     5  7
//                  8
struct walk_case {
    const char *name;
    int (*fn)(qle_avl_tree *, qle_avl_walk_fn, void *);
    std::vector<int> order;
};

const walk_case walk_cases[] = {
    {"in_order", qle_avl_tree_walk, {1, 2, 3, 4, 5, 6, 7, 8}},
    {"preorder", qle_avl_tree_walk_preorder, {4, 2, 1, 3, 6, 5, 7, 8}},
    {"preorder_reverse", qle_avl_tree_walk_preorder_reverse, {4, 6, 7, 8, 5, 2, 3, 1}},
};

TEST_F(AvlTest, WalkOrders) {
    insert_all(range(1, 8));
    ASSERT_EQ(shape(tree.root), "4:4(2:2(1:1,3:1),6:3(5:1,7:2(-,8:1)))");
    for (const walk_case &c : walk_cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(walk(c.fn), c.order);
    }
}

TEST_F(AvlTest, WalkStopsWhenCallbackReturnsNonZero) {
    insert_all(range(1, 8));
    for (const walk_case &c : walk_cases) {
        SCOPED_TRACE(c.name);
        walk_log log;
        log.tree = &tree;
        log.stop_at = 3;
        log.stop_value = 5;
        EXPECT_EQ(c.fn(&tree, log_node, &log), 5);
        EXPECT_EQ(log.keys, std::vector<int>(c.order.begin(), c.order.begin() + 3));
    }
}

TEST_F(AvlTest, EmptyTree) {
    for (const walk_case &c : walk_cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(walk(c.fn).empty());
    }
    int k = 1;
    EXPECT_EQ(qle_avl_tree_find(&tree, &k), nullptr);
    EXPECT_EQ(qle_avl_tree_delete(&tree, &k), nullptr);
    EXPECT_EQ(qle_avl_tree_check(&tree), 1);
    destroyed.clear();
    qle_avl_tree_destroy(&tree, record_destroyed);
    EXPECT_TRUE(destroyed.empty());
    EXPECT_EQ(tree.root, nullptr);
}

TEST_F(AvlTest, DestroyPassesNodesInAscendingOrder) {
    std::vector<int> keys = range(1, 200);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
    insert_all(keys);
    destroyed.clear();
    qle_avl_tree_destroy(&tree, record_destroyed);
    EXPECT_EQ(destroyed, range(1, 200));
    EXPECT_EQ(tree.root, nullptr);
}

TEST_F(AvlTest, CheckRejectsBrokenHeights) {
    // Built by hand: insert never makes these.
    item n[3];
    for (int i = 0; i < 3; ++i) {
        qle_avl_node_init(&n[i].node);
        n[i].key = i;
    }
    tree.root = &n[1].node;
    n[1].node.left = &n[0].node;
    n[1].node.right = &n[2].node;
    n[1].node.height = 2;
    EXPECT_EQ(qle_avl_tree_check(&tree), 1);
    // A height three above its children's.
    n[1].node.height = 4;
    EXPECT_EQ(qle_avl_tree_check(&tree), 0);
    // A right child as high as its parent.
    n[1].node.height = 2;
    n[2].node.height = 2;
    EXPECT_EQ(qle_avl_tree_check(&tree), 0);
}

// A "caterpillar" deeper than the link stack, linked by hand: a spine of
// `depth` nodes, each with a leaf on the other side. The left caterpillar's
// spine runs to the left (keys 2*depth-1, 2*depth-3, ..., 1) with right leaves
// one above their spine node; the right caterpillar mirrors it (spine 2, 4,
// ..., 2*depth, left leaves one below). Both hold the keys 1 to 2*depth. A pre-order walk that
// visits the spine first keeps one pending leaf per level, so it overflows too.
class AvlDeepTest : public AvlTest {
  protected:
    static constexpr int depth = 45;

    void build(bool right) {
        qle_avl_node **link = &tree.root;
        for (int i = 0; i < depth; ++i) {
            int spine_key = right ? 2 * i + 2 : 2 * (depth - i) - 1;
            item *spine = make(spine_key);
            item *leaf = make(right ? spine_key - 1 : spine_key + 1);
            spine->node.height = depth - i + 1;
            (right ? spine->node.left : spine->node.right) = &leaf->node;
            *link = &spine->node;
            link = right ? &spine->node.right : &spine->node.left;
        }
        snapshot = take_snapshot();
    }

    struct node_state {
        qle_avl_node *left, *right;
        int32_t height;
        bool operator==(const node_state &) const = default;
    };
    std::vector<node_state> take_snapshot() {
        std::vector<node_state> s{{tree.root, nullptr, 0}};
        for (item &it : items)
            s.push_back({it.node.left, it.node.right, it.node.height});
        return s;
    }

    std::vector<node_state> snapshot;
};

struct deep_walk_case {
    const char *name;
    bool right;
    int (*fn)(qle_avl_tree *, qle_avl_walk_fn, void *);
    int rc;
    size_t visits; // callbacks before the walk returned
};

// The stack holds 40 links. The in-order walk pushes the left spine before
// its first callback; a pre-order walk along the spine holds i + 2 links after
// the i-th spine node (counting from 0), so the push of the 41st spine node
// fails after 40 callbacks. Along the other side the stack never holds more
// than two links.
const deep_walk_case deep_walk_cases[] = {
    {"left_in_order", false, qle_avl_tree_walk, QLE_AVL_TOO_DEEP, 0},
    {"left_preorder", false, qle_avl_tree_walk_preorder, QLE_AVL_TOO_DEEP, 40},
    {"left_preorder_reverse", false, qle_avl_tree_walk_preorder_reverse, 0, 90},
    {"right_in_order", true, qle_avl_tree_walk, 0, 90},
    {"right_preorder", true, qle_avl_tree_walk_preorder, 0, 90},
    {"right_preorder_reverse", true, qle_avl_tree_walk_preorder_reverse, QLE_AVL_TOO_DEEP, 40},
};

TEST_F(AvlDeepTest, WalksReportOverflow) {
    EXPECT_EQ(QLE_AVL_TOO_DEEP, -999);
    for (const deep_walk_case &c : deep_walk_cases) {
        SCOPED_TRACE(c.name);
        items.clear();
        build(c.right);
        std::vector<int> keys = walk(c.fn, c.rc);
        EXPECT_EQ(keys.size(), c.visits);
        if (c.rc == QLE_AVL_TOO_DEEP) {
            // The visited nodes are the first spine nodes, from the root.
            for (size_t i = 0; i < keys.size(); ++i)
                EXPECT_EQ(keys[i], c.right ? static_cast<int>(2 * i + 2)
                                           : static_cast<int>(2 * (depth - i) - 1));
        } else {
            if (c.fn == qle_avl_tree_walk) {
                EXPECT_EQ(keys, range(1, 2 * depth));
            }
            std::sort(keys.begin(), keys.end());
            EXPECT_EQ(keys, range(1, 2 * depth));
        }
        EXPECT_EQ(take_snapshot(), snapshot);
    }
}

TEST_F(AvlDeepTest, InsertAndDeleteRefuseWithoutChange) {
    for (bool right : {false, true}) {
        SCOPED_TRACE(right ? "right" : "left");
        items.clear();
        build(right);
        // Past the deep end of the spine.
        item *extra = make(right ? 2 * depth + 1 : 0);
        snapshot = take_snapshot();
        EXPECT_EQ(qle_avl_tree_insert(&tree, &extra->node), QLE_AVL_TOO_DEEP);
        EXPECT_EQ(take_snapshot(), snapshot);
        // The deepest spine node: 44 links above it.
        int deepest = right ? 2 * depth : 1;
        EXPECT_EQ(qle_avl_tree_delete(&tree, &deepest), nullptr);
        EXPECT_EQ(take_snapshot(), snapshot);
        // Find needs no stack.
        qle_avl_node *n = qle_avl_tree_find(&tree, &deepest);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(key_of(n), deepest);
        EXPECT_EQ(qle_avl_tree_check(&tree), 0);
        destroyed.clear();
        qle_avl_tree_destroy(&tree, record_destroyed);
        EXPECT_EQ(destroyed, range(1, 2 * depth));
        EXPECT_EQ(tree.root, nullptr);
    }
}

// Thousands of random inserts and deletes against std::set; after every step
// the tree passes both checks and walks in the set's order.
TEST_F(AvlTest, RandomAgainstSet) {
    constexpr int keys = 400;
    std::vector<item> pool(keys);
    item spare;
    std::set<int> model;
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> key_dist(0, keys - 1);
    std::uniform_int_distribution<int> op_dist(0, 9);
    for (int step = 0; step < 6000; ++step) {
        int k = key_dist(rng);
        bool present = model.count(k) != 0;
        if (op_dist(rng) < 6) {
            item *it = present ? &spare : &pool[static_cast<size_t>(k)];
            qle_avl_node_init(&it->node);
            it->key = k;
            ASSERT_EQ(qle_avl_tree_insert(&tree, &it->node), present ? QLE_AVL_DUPLICATE : 0)
                << "step " << step << " key " << k;
            model.insert(k);
        } else {
            qle_avl_node *n = qle_avl_tree_delete(&tree, &k);
            ASSERT_EQ(n, present ? &pool[static_cast<size_t>(k)].node : nullptr)
                << "step " << step << " key " << k;
            model.erase(k);
        }
        ASSERT_EQ(qle_avl_tree_check(&tree), 1) << "step " << step;
        ASSERT_TRUE(valid(&tree)) << "step " << step;
        ASSERT_EQ(walk(qle_avl_tree_walk), std::vector<int>(model.begin(), model.end()))
            << "step " << step;
        int probe = key_dist(rng);
        qle_avl_node *found = qle_avl_tree_find(&tree, &probe);
        ASSERT_EQ(found, model.count(probe) ? &pool[static_cast<size_t>(probe)].node : nullptr);
    }
}

} // namespace
