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

QlStr QlStringList::Next()
{
    if (head_ == nullptr)
        return QlStr::CtorNull();
    if (cursor_ == nullptr)
        cursor_ = head_;
    else if (cursor_->Next() != nullptr)
        cursor_ = cursor_->Next();
    return cursor_->Text();
}

bool QlStringList::ReplaceAtCursor(const QlStr& text)
{
    if (cursor_ == nullptr)
        return false;
    cursor_->SetText(text);
    return true;
}

void QlStringList::RemoveAtCursor()
{
    if (head_ == nullptr)
        return;
    if (cursor_ == nullptr || cursor_ == head_) {
        RemoveHead();
        return;
    }
    QlListNode* before = head_;
    while (before->Next() != cursor_)
        before = before->Next();
    before->SetNext(cursor_->Next());
    if (tail_ == cursor_)
        tail_ = before;
    delete cursor_;
    cursor_ = before;
}

void QlStringList::RemoveHead()
{
    if (head_ == nullptr)
        return;
    QlListNode* old = head_;
    head_ = old->Next();
    // A cursor at the old head has no node before it: it is unset again.
    if (cursor_ == old)
        cursor_ = nullptr;
    delete old;
    if (head_ == nullptr)
        Clear();
}

void QlStringList::RemoveTail()
{
    if (head_ == nullptr)
        return;
    if (head_ == tail_) {
        RemoveHead();
        return;
    }
    QlListNode* before = head_;
    while (before->Next() != tail_)
        before = before->Next();
    if (cursor_ == tail_)
        cursor_ = before;
    delete tail_;
    before->SetNext(nullptr);
    tail_ = before;
}

int QlStringList::Count() const
{
    int n = 0;
    for (const QlListNode* node = head_; node != nullptr; node = node->Next())
        ++n;
    return n;
}
