#pragma once

#include <QList>
#include <QMutex>
#include <QThread>
#include <atomic>
#include <optional>

#include "discovery/drive_item.h"
#include "partitions/partition_item.h"
#include "partitions/partition_table_repair.h"

// The lost-partition search on its own thread, and the repair that writes a new partition
// table from what it found. One object serves any number of searches, one at a time.
class partition_repair_c : public QThread {
    Q_OBJECT
public:
    explicit partition_repair_c(QObject* parent = nullptr);
    ~partition_repair_c() override;  // stops a running search and waits for it

    // The disk to search (a copy: the disk list may be rebuilt while we run). Forgets the
    // partitions found on the previous disk; ignored while a search runs.
    void set_drive(const drive_item_s& drive);
    const std::optional<drive_item_s>& drive() const { return drive_; }

    // A copy of the partitions found so far, in the order found; safe while the search runs.
    QList<partition_item_s> partitions() const;
    // Fraction 0..1 of the disk searched; 1.0 once a search reached the disk's end.
    double progress() const { return progress_.load(); }
    // 0 after a search that reached the end, 1 after a stop, -1 when the disk could not be
    // opened (then nothing was found and progress stays 0).
    int search_status() const { return search_status_.load(); }

    // Asks a running search to end after the chunk in hand; the disk is closed as it ends.
    void request_stop();

    // Writes a new first sector to the disk from the found partitions. 0 when it was written
    // and verified; -1 while the search runs, with no disk set, or when the repair refused or
    // failed (last_repair() says why and where the old sector was saved).
    int write_partition_table();
    const repair_report_s& last_repair() const { return last_repair_; }

signals:
    // Emitted on the search thread after each find has been added to the list.
    void partition_found();

protected:
    void run() override;

private:
    mutable QMutex lock_;
    QList<partition_item_s> partitions_;
    std::optional<drive_item_s> drive_;
    std::atomic<double> progress_{0.0};
    std::atomic<bool> stop_{false};
    std::atomic<int> search_status_{0};
    repair_report_s last_repair_;
};
