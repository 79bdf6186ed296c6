// Event access: the abstract classes through which the monitor reads one raw
// event and the detector packets inside it. Concrete classes answer them from
// the KIVO stream format (see StreamEvent.h).
#ifndef KIVO_EVENTIO_EVENT_H
#define KIVO_EVENTIO_EVENT_H

class Packet {
 public:
  virtual ~Packet() = default;
  // -1 when readout unit `ruid` is absent from the packet, any other value when present.
  virtual int iValue(int ruid) = 0;
  // Number of hit words of channel `ruchn` of unit `ruid`; 0 when there are none.
  virtual int iValue(int ruid, int ruchn) = 0;
  // The i-th hit word (i from 0) of channel `ruchn` of unit `ruid`; 0 when out of range.
  virtual int iValue(int ruid, int ruchn, int i) = 0;
};

class Event {
 public:
  virtual ~Event() = default;
  virtual int getEvtType() = 0;
  virtual int getRunNumber() = 0;
  // A new packet owned by the caller, or null when the event has no packet `id`.
  virtual Packet* getPacket(int id) = 0;
};

#endif
