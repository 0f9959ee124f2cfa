// The controller's blocks and variables as the tree view shows them, built
// once per load and never changed afterwards, so that the pool's worker can
// build it and the UI thread can read it without a lock.
//
// A node is a block (the roots, in block-list order), or a member, a
// structure member or an array element below it, named by one component of
// the variables' names ("Motor", "[3]"). Nodes are numbered in pre-order:
// the subtree of node i is [i, end(i)), its first child is i + 1 and every
// next sibling starts where the previous one's subtree ends. Names live in
// one shared text pool; children are found by name through one hash table
// over (parent, name), so building, finding a variable again after a reload
// and restoring open nodes cost the same for a million siblings as for ten.
//
// What the view changes from frame to frame (open nodes, the filter's
// result, the rows it draws) lives beside the model, in byte vectors indexed
// by node: see TreeFilter and collectRows below.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vemo/core/Browse.h"
#include "vemo/core/OwnedLists.h"

namespace vemo {

class TreeModel {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    // Takes over the catalog's block list and symbol lists. Every block gets
    // a root; a block whose browse failed (or that has no variables) has no
    // children, and the failed one keeps its browse's result code. A symbol whose name is not its block's name, one separator
    // and more yields no node.
    explicit TreeModel(Catalog catalog);
    TreeModel(const TreeModel&) = delete;
    TreeModel& operator=(const TreeModel&) = delete;

    std::uint32_t size() const { return static_cast<std::uint32_t>(nodes_.size()); }
    std::string_view name(std::uint32_t node) const {
        const Node& n = nodes_[node];
        return std::string_view(names_).substr(n.nameOffset, n.nameLength);
    }
    std::uint32_t parent(std::uint32_t node) const { return nodes_[node].parent; }
    // One past the last node of the subtree.
    std::uint32_t end(std::uint32_t node) const { return nodes_[node].end; }
    bool hasChildren(std::uint32_t node) const { return nodes_[node].end > node + 1; }
    // 0 for blocks.
    std::uint32_t depth(std::uint32_t node) const { return nodes_[node].depth; }
    bool isBlock(std::uint32_t node) const { return nodes_[node].depth == 0; }
    // The variable a tag node stands for (the later of two symbols with one
    // name); null for blocks and for nodes that only group others.
    const s7_symbol* symbol(std::uint32_t node) const { return nodes_[node].symbol; }
    // The block record of a block node; null for tag nodes.
    const s7_block* block(std::uint32_t node) const;
    // The result code of the block's browse: S7_OK for a block that was
    // read (with or without variables) and for tag nodes.
    std::uint8_t browseCode(std::uint32_t node) const;
    // The result code of the failed browse of the block a variable of that
    // full name would be in; S7_OK when that block was read or there is no
    // such block. What a name the tree lacks means: gone from the program,
    // or never seen because its block could not be read.
    std::uint8_t browseCodeFor(std::string_view fullName) const;
    // The children in order (allocates: for tests and tools, not per frame).
    std::vector<std::uint32_t> children(std::uint32_t node) const;

    // The block name, then "." before each member and nothing before an
    // index: "DB1.Axes[2].Rpm".
    std::string fullPath(std::uint32_t node) const;
    // The child of `parent` named `name` exactly (kNone for the parent
    // finds a block by name; the first of two blocks with one name); kNone
    // when there is none.
    std::uint32_t findChild(std::uint32_t parent, std::string_view name) const;
    // The node a full path leads to; kNone when none does.
    std::uint32_t find(std::string_view fullPath) const;
    // The variable of exactly that full name; null when there is none.
    const s7_symbol* findSymbol(std::string_view fullName) const;

    // The root of each block, in block-list order.
    const std::vector<std::uint32_t>& roots() const { return roots_; }
    const BlockList& blocks() const { return blocks_; }
    std::size_t symbolCount() const { return symbolCount_; }
    // What the nodes, their names and the name index take, without the
    // symbol lists the library handed over.
    std::size_t nodeBytes() const;

private:
    struct Node {
        std::uint32_t parent;
        std::uint32_t end;
        std::uint32_t nameOffset;
        std::uint32_t nameLength;
        std::uint32_t depth;
        const s7_symbol* symbol;
    };
    class Builder;

    std::uint32_t slotOf(std::uint32_t parent, std::string_view name) const;

    BlockList blocks_;
    std::vector<SymbolList> symbols_;          // one per block; the nodes borrow the records
    std::vector<std::uint8_t> browseCodes_;    // one per block
    std::vector<std::uint32_t> failedBlocks_;  // the blocks whose browse failed, in list order
    std::vector<Node> nodes_;
    std::string names_;
    // Open addressing over (parent, name): node index, kNone for an empty
    // slot; a power of two at least twice the node count.
    std::vector<std::uint32_t> index_;
    std::vector<std::uint32_t> roots_;
    std::size_t symbolCount_ = 0;
};

// Which nodes a search text shows: a tag node whose full path holds the text
// (ASCII letters folded), every node above it, and everything below a
// shown structure (their paths hold the text too); a block node only through
// a tag below it. An empty text shows everything.
//
// Beside that, which nodes to open so that every match is on screen: the
// nodes above each match, where a match is a tag whose own name brings in
// the text (or a block's member when the block's name does). What lies below
// a match is shown but not opened: a structure named like the text stays a
// single row until it is opened.
//
// Computed in slices: run() does what fits in its budget and resumes where
// it stopped, so that a keystroke over a million nodes costs every frame a
// few milliseconds instead of one frame the whole pass. The model must stay
// alive and unchanged while a filter runs over it.
class TreeFilter {
public:
    // One byte per node each.
    struct Result {
        std::vector<std::uint8_t> visible;  // 1 when shown
        std::vector<std::uint8_t> reveal;   // 1 when it holds a match below it
    };

    void start(const TreeModel& model, std::string text);
    // Works until the result is complete or `budget` is used up (at least
    // one slice of nodes either way); true once complete.
    bool run(std::chrono::nanoseconds budget);
    bool running() const { return model_ != nullptr; }
    // Drops a running filter (its model is about to go).
    void cancel() {
        model_ = nullptr;
        result_ = {};
    }
    // After run() returned true. Leaves the filter idle.
    Result takeResult();

    // start and run to the end at once.
    static Result resultFor(const TreeModel& model, std::string text);
    static std::vector<std::uint8_t> visibleFor(const TreeModel& model, std::string text) {
        return resultFor(model, std::move(text)).visible;
    }

private:
    // While the passes run, a node's visible byte also carries kMatch when
    // the text ends in the node's own name; the backward pass turns it into
    // its parent's reveal byte and leaves 0 or 1.
    static constexpr std::uint8_t kMatch = 2;

    bool forwardSlice(std::uint32_t until);
    void backwardSlice(std::uint32_t until);

    const TreeModel* model_ = nullptr;
    std::string text_;
    Result result_;
    // The forward pass: the full path of the current node and, per depth,
    // where each ancestor's path ends and whether it held the text.
    std::string path_;
    std::vector<std::uint32_t> pathEnds_;
    std::vector<std::uint8_t> matched_;
    std::uint32_t next_ = 0;  // the forward pass's next node, then the backward pass's
    bool backward_ = false;
    bool complete_ = false;
};

// The nodes drawn, top to bottom: every shown node whose ancestors are all
// open. `visible` and `open` hold one byte per node.
void collectRows(const TreeModel& model, const std::vector<std::uint8_t>& visible,
                 const std::vector<std::uint8_t>& open, std::vector<std::uint32_t>& rows);

}  // namespace vemo
