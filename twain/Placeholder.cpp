namespace lumipage { }
