// The one translation unit that holds the compiled code of Asio, its TLS layer and Beast.
#include <boost/asio/impl/src.hpp>
#include <boost/asio/ssl/impl/src.hpp>
#include <boost/beast/src.hpp>
