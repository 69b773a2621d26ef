// The one translation unit that holds the compiled code of Boost.URL.
#include <boost/url/src.hpp>
