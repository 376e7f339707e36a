// The string list.
#include "common/QlList.h"

#include "common/QlHooks.h"

namespace {
const char kSource[] = "qllist";
}

void QlStringList::RemoveAll()
{
    cursor_ = head_;
    while (cursor_) {
        QlListNode* next = cursor_->Next();
        delete cursor_;
        cursor_ = next;
    }
    Clear();
}

void QlStringList::AddHead(const QlStr& text)
{
    QlListNode* node = new QlListNode(text);
    node->SetNext(head_);
    head_ = node;
    if (tail_ == nullptr)
        tail_ = node;
}

void QlStringList::AddTail(const QlStr& text)
{
    if (head_ == nullptr) {
        AddHead(text);
        return;
    }
    if (!qlCheck(tail_ != nullptr, kSource, kListTailMissing))
        return;
    QlListNode* node = new QlListNode(text);
    tail_->SetNext(node);
    tail_ = node;
}
