<%@ page contentType="text/html; charset=UTF-8" %>
<html>
<head>
<title>Product list</title>
<script type="text/javascript">
function confirmDelete(name) {
  return confirm("Delete " + name + "?");
}
</script>
</head>
<body>
<h1>Products</h1>
<form action="list.jsp" method="post">
<select name="category">
<option value="all" <%= "all".equals(category) ? "selected" : "" %>>All products</option>
<option value="new" <%= "new".equals(category) ? "selected" : "" %>>New this month</option>
</select>
</form>
<table>
<% for (Product p : products) { %>
<tr><td><a href="detail.jsp?id=<%= p.getId() %>"><%= p.getName() %></a></td>
<td><%= p.getPrice() %></td></tr>
<% } %>
</table>
<p>Prices include tax.</p>
</body>
</html>
