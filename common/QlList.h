// QlStringList: a singly linked list of texts that owns its nodes.
#pragma once

#include "common/QlString.h"

enum QlListLine {
    kListTailMissing = 75,  // a list with a head but no tail
};

class QlListNode {
public:
    explicit QlListNode(const QlStr& text) : text_(text) {}
    QlListNode* Next() const { return next_; }
    void SetNext(QlListNode* next) { next_ = next; }
    const QlStr& Text() const { return text_; }
    void SetText(const QlStr& text) { text_ = text; }

private:
    QlListNode* next_ = nullptr;
    QlStr text_;
};

class QlStringList {
public:
    QlStringList() = default;
    ~QlStringList() { RemoveAll(); }
    QlStringList(const QlStringList&) = delete;
    QlStringList& operator=(const QlStringList&) = delete;

    // Forgets the nodes without freeing them (for a fresh list).
    void Clear() { head_ = cursor_ = tail_ = nullptr; }
    void RemoveAll();
    void AddHead(const QlStr& text);
    void AddTail(const QlStr& text);

    QlListNode* Head() const { return head_; }
    QlListNode* Tail() const { return tail_; }

    // The cursor walks the list: unset at first, then the head, never past
    // the tail.
    // Moves the cursor on and answers its text (null on an empty list).
    QlStr Next();
    void ResetCursor() { cursor_ = nullptr; }
    QlListNode* Cursor() const { return cursor_; }
    // Replaces the text at the cursor; false when the cursor is unset.
    bool ReplaceAtCursor(const QlStr& text);
    // Removes the node at the cursor (the head when the cursor is unset or at
    // the head); the cursor moves to the node before it.
    void RemoveAtCursor();
    void RemoveHead();
    void RemoveTail();
    bool IsEmpty() const { return head_ == nullptr; }
    int Count() const;

private:
    QlListNode* head_ = nullptr;
    QlListNode* cursor_ = nullptr;
    QlListNode* tail_ = nullptr;
};
