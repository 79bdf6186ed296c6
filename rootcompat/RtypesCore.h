// Basic ROOT type aliases.
#ifndef ROOT_RtypesCore
#define ROOT_RtypesCore

typedef char Char_t;
typedef unsigned char UChar_t;
typedef short Short_t;
typedef unsigned short UShort_t;
typedef int Int_t;
typedef unsigned int UInt_t;
typedef long Long_t;
typedef unsigned long ULong_t;
typedef long long Long64_t;
typedef unsigned long long ULong64_t;
typedef float Float_t;
typedef double Double_t;
typedef bool Bool_t;
typedef char Text_t;
typedef const char Option_t;
typedef short Version_t;
typedef short Style_t;
typedef short Marker_t;
typedef short Width_t;
typedef short Color_t;
typedef short SCoord_t;
typedef float Size_t;
typedef float Angle_t;
typedef double Coord_t;
typedef short Font_t;
typedef int Stat_t;

constexpr Bool_t kTRUE = true;
constexpr Bool_t kFALSE = false;

#endif
