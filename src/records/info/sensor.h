// Records that other records watch: the intra-oral sensor settings (CInfosZel) and the panoramic
// processing level (CInfosPanoProcess). Each keeps an ordered list of listeners and tells them
// after a change. A listener registered with a record is detached by the record's destructor
// (OnDetach), and detaches itself in its own; neither side is left with a dangling pointer.
#pragma once
#include <quorin/somuimage.h>

#include <algorithm>
#include <cstdint>
#include <vector>

// Shared by both watched records: the ordered listener list and its notification.
template <class Sender>
class CListenerList {
  public:
    class IListener {
      public:
        virtual void OnChange(Sender* sender, std::int32_t arg) = 0;
        // The sender is being destroyed: forget it.
        virtual void OnDetach(Sender* sender) = 0;

      protected:
        ~IListener() = default;
    };

    void Add(IListener* listener) {
        if (listener != nullptr) m_items.push_back(listener);
    }
    // Removes every entry that points to the listener.
    void Remove(IListener* listener) { std::erase(m_items, listener); }
    void Notify(Sender* sender, std::int32_t arg) const {
        // A copy: a listener may leave the list while it is told.
        const std::vector<IListener*> items = m_items;
        for (IListener* item : items)
            if (std::find(m_items.begin(), m_items.end(), item) != m_items.end())
                item->OnChange(sender, arg);
    }
    void DetachAll(Sender* sender) {
        std::vector<IListener*> items;
        items.swap(m_items);
        for (IListener* item : items) item->OnDetach(sender);
    }
    std::size_t Size() const { return m_items.size(); }

  private:
    std::vector<IListener*> m_items;
};

class CInfosZel {
  public:
    using IListener = CListenerList<CInfosZel>::IListener;

    CInfosZel() { Reset(); }
    // Copies the values; the listeners stay with the record they registered with.
    CInfosZel(const CInfosZel& other) { CopyValues(other); }
    CInfosZel& operator=(const CInfosZel& other) {
        if (this != &other) CopyValues(other);
        return *this;
    }
    virtual ~CInfosZel() { m_listeners.DetachAll(this); }

    virtual void Notify(std::int32_t arg) { m_listeners.Notify(this, arg); }
    void AddListener(IListener* listener) { m_listeners.Add(listener); }
    void RemoveListener(IListener* listener) { m_listeners.Remove(listener); }
    std::size_t ListenerCount() const { return m_listeners.Size(); }

    void Reset();
    void SetSensorValues(std::uint16_t a, std::uint16_t b);
    bool GetSensorValues(std::uint16_t* a, std::uint16_t* b) const;  // true when either is not 0
    void SetParameters(std::int32_t p1, std::int32_t p2, std::int32_t p3, std::int32_t p4,
                       std::int32_t p5, std::int32_t p6);
    int GetParameters(std::int32_t* p1, std::int32_t* p2, std::int32_t* p3, std::int32_t* p4,
                      std::int32_t* p5, std::int32_t* p6) const;
    // Stores a new level and notifies (arg 0); the result is the modified flag.
    std::uint8_t SetFilterLevel(std::int32_t level);
    std::int32_t GetFilterLevel() const { return m_level; }
    std::uint8_t IsModified() const { return m_modified; }
    std::uint8_t AreSensorValuesValid() const { return m_valid; }

    // The sensor fields of the record; the record's image type chooses the level field.
    void FromSOMU(const SOMUImage& record);
    void ToSOMU(SOMUImage& record) const;

  private:
    void CopyValues(const CInfosZel& other);

    CListenerList<CInfosZel> m_listeners;
    std::int32_t m_value = 0;
    std::uint16_t m_sensorA = 0;
    std::uint16_t m_sensorB = 0;
    std::int32_t m_level = 0;
    std::uint8_t m_modified = 1;
    std::uint8_t m_valid = 0;
    std::int32_t m_parameters[6] = {};
};

class CInfosPanoProcess {
  public:
    using IListener = CListenerList<CInfosPanoProcess>::IListener;

    CInfosPanoProcess() = default;
    // Copying copies the modified flag, the level and the enabled flag, not the listeners.
    CInfosPanoProcess(const CInfosPanoProcess& other) { CopyValues(other); }
    CInfosPanoProcess& operator=(const CInfosPanoProcess& other) {
        if (this != &other) CopyValues(other);
        return *this;
    }
    virtual ~CInfosPanoProcess() { m_listeners.DetachAll(this); }

    virtual void Notify(std::int32_t arg) { m_listeners.Notify(this, arg); }
    void AddListener(IListener* listener) { m_listeners.Add(listener); }
    void RemoveListener(IListener* listener) { m_listeners.Remove(listener); }
    std::size_t ListenerCount() const { return m_listeners.Size(); }

    // The defaults: modified 1, level 1, enabled 1.
    void Reset();
    // Stores a new level (0 while disabled) and notifies; the result is the modified flag.
    std::uint8_t SetLevel(std::int32_t level);
    // Stores the level without notifying.
    void SetProcessing(std::int32_t value) { m_level = value; }
    std::int32_t GetLevel() const { return m_level; }
    void SetEnabled(bool enabled) { m_enabled = enabled ? 1 : 0; }
    std::uint8_t IsEnabled() const { return m_enabled; }
    std::uint8_t IsModified() const { return m_modified; }
    std::int32_t GetValue() const { return m_value; }

    void FromSOMU(const SOMUPano& block) { SetProcessing(block.nProcessingLevel); }
    void ToSOMU(SOMUPano& block) const { block.nProcessingLevel = m_level; }

  private:
    void CopyValues(const CInfosPanoProcess& other) {
        m_modified = other.m_modified;
        m_level = other.m_level;
        m_enabled = other.m_enabled;
    }

    CListenerList<CInfosPanoProcess> m_listeners;
    std::int32_t m_value = 0;
    std::uint8_t m_modified = 1;
    std::int32_t m_level = 1;
    std::uint8_t m_enabled = 1;
};
