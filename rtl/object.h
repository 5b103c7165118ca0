#pragma once
// Root of the class tree: senders of events are passed as TObject*, and copyable
// records derive from TPersistent.

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

class TPersistent : public TObject {
public:
    // Copies the state of source into this object. The base knows no class pair
    // and raises; descendants handle the classes they understand.
    virtual void Assign(const TPersistent* source);
};
