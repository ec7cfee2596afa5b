#pragma once
// An undo history of registered actions. An action is registered before the change it undoes;
// while an undo runs, what it registers becomes the redo, and while a redo runs, the undo again.
// No limit on depth.

#include <functional>
#include <vector>

class SnapshotHistory {
public:
    void registerUndo(std::function<void()> action);
    bool canUndo() const { return !undoStack.empty(); }
    bool canRedo() const { return !redoStack.empty(); }
    void undo();
    void redo();
    void clear();

private:
    enum class Running { Nothing, Undo, Redo };
    std::vector<std::function<void()>> undoStack, redoStack;
    Running running = Running::Nothing;
};
