// Undo of the host stand-in: restore objects, the hold that collects them between Begin and
// Accept, and the undo/redo stack whose entries carry their menu texts.
#pragma once

#include "platform/max/maxtypes.h"

#include <memory>
#include <string>
#include <vector>

// One recorded change. Restore puts the state before the change back (isUndo: called by an undo
// rather than a cancel); Redo puts the state after the change back.
class RestoreObj {
public:
    virtual ~RestoreObj() = default;
    virtual void Restore(int isUndo) = 0;
    virtual void Redo() = 0;
    virtual int Size() { return 1; }
    virtual MSTR Description() { return MSTR("restore object"); }
};

// The hold: Begin opens a bracket (brackets nest; only the outermost one counts), Put records
// restore objects while a bracket is open, Accept turns the recorded objects into one undo entry
// with a menu text, Cancel restores and discards them.
class Hold {
public:
    Hold() = default;
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    ~Hold();

    void Begin();
    // True while a bracket is open and not suspended, and no undo or redo is running.
    int Holding() const;
    // Takes ownership. Outside a bracket the object is deleted at once (nothing to record).
    void Put(RestoreObj* rob);
    // Closes a bracket; the outermost one pushes an undo entry when anything was recorded (an
    // empty bracket leaves no entry) and clears the redo stack.
    void Accept(const char* menuText);
    void Accept(const std::string& menuText) { Accept(menuText.c_str()); }
    // Closes a bracket; the outermost one restores everything recorded (newest first) and drops it.
    void Cancel();
    void Suspend() { ++suspended_; }
    void Resume() {
        if (suspended_ > 0)
            --suspended_;
    }
    int IsSuspended() const { return suspended_ > 0; }
    int Restoring() const { return restoring_; }
    int BracketDepth() const { return depth_; }

    // The undo/redo stack.
    bool Undo();
    bool Redo();
    int UndoCount() const { return static_cast<int>(undo_.size()); }
    int RedoCount() const { return static_cast<int>(redo_.size()); }
    // Menu text of the entry the next Undo / Redo would run, empty when there is none.
    std::string UndoMenuText() const;
    std::string RedoMenuText() const;
    // Number of restore objects in the entry the next Undo would run.
    int UndoEntrySize() const;
    // Drops both stacks and any open bracket (a new scene).
    void ClearUndoStack();

private:
    struct Entry {
        std::string text;
        std::vector<std::unique_ptr<RestoreObj>> objs;
    };
    int depth_ = 0;
    int suspended_ = 0;
    int restoring_ = 0;
    std::vector<std::unique_ptr<RestoreObj>> pending_;
    std::vector<Entry> undo_;
    std::vector<Entry> redo_;
};

// The one hold of the host.
extern Hold theHold;
