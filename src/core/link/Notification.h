#pragma once
// Notification codes the polling side hands to the user interface, and the sink that carries
// them. The GUI implements the sink with a queued call into its own thread; tests record codes.

namespace corvane3 {

enum ENotificationCode : int {
    kNotifyStatusRecord = 10,
    kNotifyDateSet = 12,
    kNotifyTimeSet = 13,
    kNotifyDiagnosticLine = 15,
    kNotifyDiagnosticsDone = 16,
    kNotifyCatalogueReply = 17,
    kNotifyAutoDetectProgress = 19,
    kNotifyAutoDetectFound = 20,
    kNotifyAutoDetectNotFound = 21,
    kNotifyPpsSyncDone = 22,
    kNotifyEventLogFetched = 23,
    kNotifyLinkStatusChanged = 25,
    kNotifyTelecomFetched = 26,
    kNotifyTimeOfDayFetched = 27,
    kNotifyUnitDateTimeFetched = 28,
    kNotifySweepProgress = 29,
    kNotifyEthernetFetched = 30,
    kNotifyFactoryEventLogFetched = 31,
    // A mailbox command was withdrawn unsent because the unit did not answer in time.
    kNotifyCommandWithdrawn = 40,
    // The logging service a window is attached to closed the connection or could not be read
    // (41 is the change log's failure).
    kNotifyServiceGone = 50,
};

// Receives notification codes. PostNotification may be called from any thread and must not
// block: the receiver handles the code later on its own thread.
class INotificationSink {
  public:
    virtual ~INotificationSink() = default;
    virtual void PostNotification(int code) = 0;
};

}  // namespace corvane3
