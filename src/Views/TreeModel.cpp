#include "Views/TreeModel.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <utility>

#include "vemo/core/SymbolPath.h"

namespace vemo {

namespace {

std::size_t hashOf(std::uint32_t parent, std::string_view name) {
    return std::hash<std::string_view>{}(name) ^ (std::size_t{parent} * 0x9E3779B97F4A7C15ull);
}

// The smallest power of two that holds twice `count`, at least 16.
std::size_t tableSize(std::size_t count) {
    std::size_t size = 16;
    while (size < count * 2) size *= 2;
    return size;
}

}  // namespace

// The nodes in the order their names first appear, each with its list of
// children, and the name index over them; reordered into pre-order once
// everything is in.
class TreeModel::Builder {
public:
    explicit Builder(std::string& names) : names_(names), table_(tableSize(0), kNone) {}

    std::uint32_t root(std::string_view name) {
        const std::uint32_t node = create(kNone, name, 0);
        // Blocks are never merged; a name finds the first block that has it.
        const std::size_t slot = probe(kNone, name);
        if (table_[slot] == kNone) {
            table_[slot] = node;
            keepHalfFree();
        }
        roots_.push_back(node);
        return node;
    }

    std::uint32_t child(std::uint32_t parent, std::string_view name) {
        const std::size_t slot = probe(parent, name);
        if (table_[slot] != kNone) return table_[slot];
        const std::uint32_t node = create(parent, name, depth_[parent] + 1);
        table_[slot] = node;
        keepHalfFree();
        return node;
    }

    void attach(std::uint32_t node, const s7_symbol* symbol) { symbol_[node] = symbol; }

    // Room for about `nodes` nodes, before the first: every variable is one,
    // and the groups above them are few next to them.
    void reserve(std::size_t nodes) {
        for (auto* v : {&parent_, &firstChild_, &lastChild_, &nextSibling_, &nameOffset_, &nameLength_, &depth_}) {
            v->reserve(nodes);
        }
        symbol_.reserve(nodes);
        if (indexed_ == 0 && tableSize(nodes) > table_.size()) {
            table_.assign(tableSize(nodes), kNone);
        }
    }

    // Moves the nodes into `model` in pre-order.
    void finish(std::vector<Node>& nodes, std::vector<std::uint32_t>& index, std::vector<std::uint32_t>& roots) {
        const std::uint32_t n = count();
        // Children always come after their parent, so one backward sweep
        // adds every subtree into its parent's.
        std::vector<std::uint32_t> size(n, 1);
        for (std::uint32_t i = n; i-- > 0;) {
            if (parent_[i] != kNone) size[parent_[i]] += size[i];
        }
        std::vector<std::uint32_t> position(n, kNone);
        std::uint32_t next = 0;
        for (std::uint32_t r : roots_) {
            position[r] = next;
            next += size[r];
        }
        // Parents before children again: each node places its children.
        for (std::uint32_t i = 0; i < n; ++i) {
            std::uint32_t at = position[i] + 1;
            for (std::uint32_t c = firstChild_[i]; c != kNone; c = nextSibling_[c]) {
                position[c] = at;
                at += size[c];
            }
        }
        nodes.resize(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            nodes[position[i]] = Node{parent_[i] == kNone ? kNone : position[parent_[i]], position[i] + size[i],
                                      nameOffset_[i], nameLength_[i], depth_[i], symbol_[i]};
        }
        for (std::uint32_t& slot : table_) {
            if (slot != kNone) slot = position[slot];
        }
        index = std::move(table_);
        roots.clear();
        roots.reserve(roots_.size());
        for (std::uint32_t r : roots_) roots.push_back(position[r]);
    }

private:
    std::uint32_t count() const { return static_cast<std::uint32_t>(parent_.size()); }

    std::string_view nameOf(std::uint32_t node) const {
        return std::string_view(names_).substr(nameOffset_[node], nameLength_[node]);
    }

    std::size_t probe(std::uint32_t parent, std::string_view name) const {
        const std::size_t mask = table_.size() - 1;
        for (std::size_t slot = hashOf(parent, name) & mask;; slot = (slot + 1) & mask) {
            const std::uint32_t node = table_[slot];
            if (node == kNone || (parent_[node] == parent && nameOf(node) == name)) return slot;
        }
    }

    std::uint32_t create(std::uint32_t parent, std::string_view name, std::uint32_t depth) {
        if (count() >= kNone - 1) throw std::length_error("the tree has more nodes than it can number");
        if (names_.size() + name.size() > kNone) throw std::length_error("the tree's names exceed 4 GiB");
        const std::uint32_t node = count();
        parent_.push_back(parent);
        firstChild_.push_back(kNone);
        lastChild_.push_back(kNone);
        nextSibling_.push_back(kNone);
        nameOffset_.push_back(static_cast<std::uint32_t>(names_.size()));
        nameLength_.push_back(static_cast<std::uint32_t>(name.size()));
        depth_.push_back(depth);
        symbol_.push_back(nullptr);
        names_.append(name);
        if (parent != kNone) {
            if (lastChild_[parent] == kNone) {
                firstChild_[parent] = node;
            } else {
                nextSibling_[lastChild_[parent]] = node;
            }
            lastChild_[parent] = node;
        }
        return node;
    }

    // At most half the slots in use keeps the probe runs short.
    void keepHalfFree() {
        if (++indexed_ * 2 > table_.size()) grow();
    }

    void grow() {
        std::vector<std::uint32_t> old(table_.size() * 2, kNone);
        old.swap(table_);
        const std::size_t mask = table_.size() - 1;
        for (std::uint32_t node : old) {
            if (node == kNone) continue;
            std::size_t slot = hashOf(parent_[node], nameOf(node)) & mask;
            while (table_[slot] != kNone) slot = (slot + 1) & mask;
            table_[slot] = node;
        }
    }

    std::string& names_;
    std::vector<std::uint32_t> parent_, firstChild_, lastChild_, nextSibling_, nameOffset_, nameLength_, depth_;
    std::vector<const s7_symbol*> symbol_;
    std::vector<std::uint32_t> table_;
    std::vector<std::uint32_t> roots_;
    std::size_t indexed_ = 0;
};

TreeModel::TreeModel(Catalog catalog) : blocks_(std::move(catalog.blocks)) {
    Builder builder(names_);
    std::size_t expected = blocks_.size();
    for (const BrowsedBlock& browsed : catalog.browsed) expected += browsed.symbols.size();
    builder.reserve(expected);
    symbols_.reserve(blocks_.size());
    browseCodes_.assign(blocks_.size(), S7_OK);
    for (std::uint32_t b = 0; b < blocks_.size(); ++b) {
        const s7_block& block = blocks_[b];
        const std::string_view blockName = block.name != nullptr ? block.name : "";
        const std::uint32_t root = builder.root(blockName);
        // The browse results are in list order, one per block; anything else
        // leaves the block without variables.
        SymbolList symbols;
        if (b < catalog.browsed.size() && catalog.browsed[b].block == &block) {
            symbols = std::move(catalog.browsed[b].symbols);
            browseCodes_[b] = catalog.browsed[b].code;
            if (browseCodes_[b] != S7_OK) failedBlocks_.push_back(b);
        }
        for (const s7_symbol& symbol : symbols) {
            // A symbol's name starts with its block's name and a separator.
            // A shorter name (a controller that names things its own way)
            // yields no node rather than a read past the end of the text.
            const std::string_view full = symbol.name != nullptr ? symbol.name : "";
            if (full.size() <= blockName.size()) continue;
            std::uint32_t node = root;
            forEachSymbolPathComponent(full.substr(blockName.size() + 1),
                                       [&](std::string_view part) { node = builder.child(node, part); });
            if (node != root) builder.attach(node, &symbol);
        }
        symbolCount_ += symbols.size();
        symbols_.push_back(std::move(symbols));
    }
    builder.finish(nodes_, index_, roots_);
    names_.shrink_to_fit();
}

const s7_block* TreeModel::block(std::uint32_t node) const {
    if (!isBlock(node)) return nullptr;
    const auto it = std::lower_bound(roots_.begin(), roots_.end(), node);
    return &blocks_[static_cast<std::uint32_t>(it - roots_.begin())];
}

std::uint8_t TreeModel::browseCode(std::uint32_t node) const {
    if (!isBlock(node)) return S7_OK;
    const auto it = std::lower_bound(roots_.begin(), roots_.end(), node);
    return browseCodes_[static_cast<std::size_t>(it - roots_.begin())];
}

std::uint8_t TreeModel::browseCodeFor(std::string_view fullName) const {
    // Failed blocks are few: a look at each beats splitting the name, and
    // also finds a block whose own name holds a separator.
    for (const std::uint32_t b : failedBlocks_) {
        const char* name = blocks_[b].name;
        const std::string_view block = name != nullptr ? name : "";
        if (fullName.size() > block.size() && fullName.compare(0, block.size(), block) == 0 &&
            (fullName[block.size()] == '.' || fullName[block.size()] == '[')) {
            return browseCodes_[b];
        }
    }
    return S7_OK;
}

std::vector<std::uint32_t> TreeModel::children(std::uint32_t node) const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t c = node + 1; c < end(node); c = end(c)) out.push_back(c);
    return out;
}

std::string TreeModel::fullPath(std::uint32_t node) const {
    std::vector<std::uint32_t> chain;
    for (std::uint32_t n = node; n != kNone; n = parent(n)) chain.push_back(n);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const std::string_view part = name(*it);
        if (it != chain.rbegin() && (part.empty() || part.front() != '[')) path.push_back('.');
        path.append(part);
    }
    return path;
}

std::uint32_t TreeModel::slotOf(std::uint32_t parentNode, std::string_view childName) const {
    const std::size_t mask = index_.size() - 1;
    for (std::size_t slot = hashOf(parentNode, childName) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t node = index_[slot];
        if (node == kNone || (parent(node) == parentNode && name(node) == childName)) {
            return static_cast<std::uint32_t>(slot);
        }
    }
}

std::uint32_t TreeModel::findChild(std::uint32_t parentNode, std::string_view childName) const {
    if (index_.empty()) return kNone;
    return index_[slotOf(parentNode, childName)];
}

std::uint32_t TreeModel::find(std::string_view path) const {
    std::uint32_t node = kNone;
    bool first = true;
    forEachSymbolPathComponent(path, [&](std::string_view part) {
        if (first || node != kNone) node = findChild(node, part);
        first = false;
    });
    return first ? kNone : node;
}

const s7_symbol* TreeModel::findSymbol(std::string_view fullName) const {
    const std::uint32_t node = find(fullName);
    if (node == kNone) return nullptr;
    const s7_symbol* found = symbol(node);
    if (found != nullptr && found->name != nullptr && fullName == found->name) return found;
    // Names that split alike ("a..b" and "a.b") lead to one node, which
    // carries the later symbol; the other is still the block's. Only such
    // odd names pay for the scan.
    std::uint32_t root = node;
    while (parent(root) != kNone) root = parent(root);
    const auto block = static_cast<std::size_t>(std::lower_bound(roots_.begin(), roots_.end(), root) - roots_.begin());
    for (const s7_symbol& candidate : symbols_[block]) {
        if (candidate.name != nullptr && fullName == candidate.name) return &candidate;
    }
    return nullptr;
}

std::size_t TreeModel::nodeBytes() const {
    return nodes_.capacity() * sizeof(Node) + names_.capacity() + index_.capacity() * sizeof(std::uint32_t) +
           roots_.capacity() * sizeof(std::uint32_t) + symbols_.capacity() * sizeof(SymbolList);
}

// ------------------------------------------------------------------ filter

namespace {

// Nodes per slice between two looks at the clock.
constexpr std::uint32_t kSlice = 4096;

}  // namespace

void TreeFilter::start(const TreeModel& model, std::string text) {
    model_ = &model;
    text_ = std::move(text);
    path_.clear();
    pathEnds_.clear();
    matched_.clear();
    next_ = 0;
    backward_ = false;
    complete_ = text_.empty();
    result_.visible.assign(model.size(), complete_ ? 1 : 0);
    result_.reveal.assign(model.size(), 0);
}

bool TreeFilter::run(std::chrono::nanoseconds budget) {
    if (model_ == nullptr) return false;
    const auto deadline = std::chrono::steady_clock::now() + budget;
    while (!complete_) {
        if (!backward_) {
            forwardSlice(next_ + std::min(kSlice, model_->size() - next_));
        } else {
            backwardSlice(next_ - std::min(kSlice, next_));
        }
        if (!complete_ && std::chrono::steady_clock::now() >= deadline) return false;
    }
    return true;
}

TreeFilter::Result TreeFilter::takeResult() {
    model_ = nullptr;
    complete_ = false;
    return std::exchange(result_, Result{});
}

TreeFilter::Result TreeFilter::resultFor(const TreeModel& model, std::string text) {
    TreeFilter filter;
    filter.start(model, std::move(text));
    filter.run(std::chrono::nanoseconds::max() / 2);
    return filter.takeResult();
}

bool TreeFilter::forwardSlice(std::uint32_t until) {
    const TreeModel& model = *model_;
    const std::size_t reach = text_.size() - 1;  // text_ is not empty here
    for (std::uint32_t i = next_; i < until; ++i) {
        const std::uint32_t depth = model.depth(i);
        if (pathEnds_.size() <= depth) {
            pathEnds_.resize(depth + 1);
            matched_.resize(depth + 1);
        }
        const std::size_t base = depth == 0 ? 0 : pathEnds_[depth - 1];
        path_.resize(base);
        const std::string_view part = model.name(i);
        if (depth != 0 && (part.empty() || part.front() != '[')) path_.push_back('.');
        path_.append(part);
        pathEnds_[depth] = static_cast<std::uint32_t>(path_.size());
        // Below a node whose path holds the text every path does; otherwise
        // a new match must end in this node's own part of the path.
        bool matched = depth != 0 && matched_[depth - 1] != 0;
        if (!matched) {
            const std::size_t from = base > reach ? base - reach : 0;
            matched = containsIgnoreCase(std::string_view(path_).substr(from), text_);
        }
        // A block is shown through its tags, never by its own name; its
        // members are the matches when its name holds the text.
        const bool own = matched && depth != 0 && (depth == 1 || matched_[depth - 1] == 0);
        matched_[depth] = matched ? 1 : 0;
        result_.visible[i] = static_cast<std::uint8_t>((depth != 0 && matched ? 1 : 0) | (own ? kMatch : 0));
    }
    next_ = until;
    if (next_ == model.size()) backward_ = true;
    return true;
}

void TreeFilter::backwardSlice(std::uint32_t until) {
    const TreeModel& model = *model_;
    std::vector<std::uint8_t>& visible = result_.visible;
    std::vector<std::uint8_t>& reveal = result_.reveal;
    // Children come after their parent: a node's own bytes are final
    // before the sweep reaches its parent.
    for (std::uint32_t i = next_; i-- > until;) {
        const std::uint32_t up = model.parent(i);
        if (up != TreeModel::kNone) {
            if (visible[i] != 0) visible[up] |= 1;
            if ((visible[i] & kMatch) != 0 || reveal[i] != 0) reveal[up] = 1;
        }
        visible[i] &= 1;
    }
    next_ = until;
    if (next_ == 0) complete_ = true;
}

void collectRows(const TreeModel& model, const std::vector<std::uint8_t>& visible,
                 const std::vector<std::uint8_t>& open, std::vector<std::uint32_t>& rows) {
    rows.clear();
    const std::uint32_t n = model.size();
    for (std::uint32_t i = 0; i < n;) {
        if (visible[i] == 0) {
            i = model.end(i);
            continue;
        }
        rows.push_back(i);
        i = open[i] != 0 ? i + 1 : model.end(i);
    }
}

}  // namespace vemo
