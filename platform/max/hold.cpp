#include "platform/max/hold.h"

Hold theHold;

Hold::~Hold() = default;

void Hold::Begin() {
    ++depth_;
}

int Hold::Holding() const {
    return depth_ > 0 && suspended_ == 0 && restoring_ == 0;
}

void Hold::Put(RestoreObj* rob) {
    std::unique_ptr<RestoreObj> owned(rob);
    if (rob && Holding())
        pending_.push_back(std::move(owned));
}

void Hold::Accept(const char* menuText) {
    if (depth_ == 0)
        return;
    if (--depth_ > 0)
        return;
    if (pending_.empty())
        return;
    Entry e;
    e.text = menuText ? menuText : "";
    e.objs = std::move(pending_);
    pending_.clear();
    undo_.push_back(std::move(e));
    redo_.clear();
}

void Hold::Cancel() {
    if (depth_ == 0)
        return;
    if (--depth_ > 0)
        return;
    ++restoring_;
    for (auto it = pending_.rbegin(); it != pending_.rend(); ++it)
        (*it)->Restore(FALSE);
    --restoring_;
    pending_.clear();
}

bool Hold::Undo() {
    if (undo_.empty() || depth_ > 0)
        return false;
    Entry e = std::move(undo_.back());
    undo_.pop_back();
    ++restoring_;
    for (auto it = e.objs.rbegin(); it != e.objs.rend(); ++it)
        (*it)->Restore(TRUE);
    --restoring_;
    redo_.push_back(std::move(e));
    return true;
}

bool Hold::Redo() {
    if (redo_.empty() || depth_ > 0)
        return false;
    Entry e = std::move(redo_.back());
    redo_.pop_back();
    ++restoring_;
    for (auto& o : e.objs)
        o->Redo();
    --restoring_;
    undo_.push_back(std::move(e));
    return true;
}

std::string Hold::UndoMenuText() const {
    return undo_.empty() ? std::string() : undo_.back().text;
}

std::string Hold::RedoMenuText() const {
    return redo_.empty() ? std::string() : redo_.back().text;
}

int Hold::UndoEntrySize() const {
    return undo_.empty() ? 0 : static_cast<int>(undo_.back().objs.size());
}

void Hold::ClearUndoStack() {
    depth_ = 0;
    suspended_ = 0;
    pending_.clear();
    undo_.clear();
    redo_.clear();
}
