#ifndef __KIVO_H__
#define __KIVO_H__

class Event;

int process_event(Event *e);
int process_histos(float thresh = 10);
int mask_pixels(float thresh = 5);
int analysis();
int OM();
int print_status();
void reset_histos();
void set_verbose(int v);
void set_refresh(int r);

#endif
