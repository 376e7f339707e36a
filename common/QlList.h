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

private:
    QlListNode* head_ = nullptr;
    QlListNode* cursor_ = nullptr;
    QlListNode* tail_ = nullptr;
};
