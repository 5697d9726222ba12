namespace lumipage::platform { }
